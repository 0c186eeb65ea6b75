// A React app the desktop test renders: boxes of known colours and sizes, a
// pressable box that turns green, and a bar half as wide as the window.
import { React, View, Text, Pressable } from 'talvek-renderer';

function App() {
  const [presses, setPresses] = React.useState(0);
  return (
    <View style={{ flex: 1, backgroundColor: '#000000', padding: 20 }}>
      <View testID="red" style={{ width: 120, height: 60, backgroundColor: '#ff0000' }} />
      <Pressable
        onPress={() => {
          setPresses((n) => n + 1);
          console.log('pressed ' + (presses + 1));
        }}
        style={{ width: 100, height: 40, marginTop: 20, backgroundColor: presses > 0 ? '#00ff00' : '#0000ff' }}
      />
      <View style={{ width: '50%', height: 10, marginTop: 20, backgroundColor: '#ffff00' }} />
      <Text style={{ color: '#ffffff', fontSize: 20, marginTop: 20 }}>
        Hello <Text style={{ fontWeight: 'bold' }}>TALVEK</Text>
      </Text>
    </View>
  );
}

AppRegistry.registerComponent('VirelantDesktop', () => App);
console.log('render app loaded');
