// The app the recording test renders: a paragraph with a nested span, an
// image, a counter button, a button whose handler throws after updating
// state, and a Pressable nested in another.
import { React, View, Text, Image, Pressable, ScrollView } from 'talvek-renderer';

function App() {
  const [count, setCount] = React.useState(0);
  const [outer, setOuter] = React.useState(0);
  const [inner, setInner] = React.useState(0);
  return (
    <View testID="root" style={[{ backgroundColor: '#336699', padding: 4 }, null, false, [{ padding: 8 }]]} onLayout={() => {}} notAHostProp="x">
      <Text style={{ color: 'red', fontSize: 14 }}>
        Hello<Text style={{ fontWeight: 'bold', color: 'rgba(0, 0, 255, 0.5)' }}> world</Text>
      </Text>
      <Image testID="logo" source={{ uri: 'file:///tmp/logo.png', width: 16, height: 16 }} resizeMode="contain" onLoad={() => {}} />
      <Pressable
        testID="counter"
        style={({ pressed }) => (pressed ? { opacity: 0.5, backgroundColor: '#00f' } : { opacity: 1 })}
        onPress={() => setCount((c) => c + 1)}
      >
        <Text>{`Pressed ${count}`}</Text>
      </Pressable>
      <Pressable
        testID="failing"
        onPress={() => {
          setCount((c) => c + 10);
          throw new Error('press handler failed');
        }}
      >
        <Text>Fail</Text>
      </Pressable>
      <Pressable testID="outer" onPress={() => setOuter((n) => n + 1)}>
        <Text>{`outer ${outer}`}</Text>
        <Pressable testID="inner" onPress={() => setInner((n) => n + 1)}>
          <Text>{`inner ${inner}`}</Text>
        </Pressable>
      </Pressable>
    </View>
  );
}

// A scroll view that shows where it was scrolled to.
function ScrollDemo() {
  const [y, setY] = React.useState(0);
  return (
    <ScrollView testID="list" scrollEventThrottle={16} onScroll={(e) => setY(e.nativeEvent.contentOffset.y)}>
      <Text>{`at ${y}`}</Text>
    </ScrollView>
  );
}

function Broken() {
  throw new Error('render failed');
}

AppRegistry.registerComponent('RecordingDemo', () => App);
AppRegistry.registerComponent('Broken', () => Broken);
AppRegistry.registerComponent('ScrollDemo', () => ScrollDemo);
