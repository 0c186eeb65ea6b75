// A React app with a long scrolling list: a red first row, a green last
// row, grey rows between; a blue button that scrolls to the end. The list's
// scroll positions and layout go to the console.
import { React, View, Pressable, ScrollView, dispatchCommand } from 'talvek-renderer';

const ROWS = 60;

function App() {
  const list = React.useRef(null);
  const rows = [];
  for (let i = 0; i < ROWS; ++i) {
    const colour = i === 0 ? '#ff0000' : i === ROWS - 1 ? '#00ff00' : i % 2 ? '#404040' : '#606060';
    rows.push(<View key={i} style={{ height: 40, backgroundColor: colour }} />);
  }
  return (
    <View style={{ flex: 1, backgroundColor: '#000000', padding: 20 }}>
      <Pressable
        onPress={() => dispatchCommand(list.current, 'scrollToEnd', [false])}
        style={{ width: 100, height: 30, marginBottom: 10, backgroundColor: '#0000ff' }}
      />
      <ScrollView
        ref={list}
        style={{ flex: 1 }}
        scrollEventThrottle={50}
        onLayout={(e) => console.log('list layout ' + Math.round(e.nativeEvent.layout.height))}
        onScroll={(e) => {
          const { contentOffset, contentSize, layoutMeasurement } = e.nativeEvent;
          console.log('offset ' + Math.round(contentOffset.y));
          if (contentOffset.y > 0 && contentOffset.y >= contentSize.height - layoutMeasurement.height - 0.5) {
            console.log('list at end');
          }
        }}
      >
        {rows}
      </ScrollView>
    </View>
  );
}

AppRegistry.registerComponent('VirelantDesktop', () => App);
console.log('scroll app loaded');
