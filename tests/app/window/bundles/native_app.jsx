// A React app with a native component the test registers: a swatch whose
// colour comes from its props and whose "ping" events drive the app.
import { React, View, Text, requireNativeComponent, dispatchCommand } from 'talvek-renderer';

const Swatch = requireNativeComponent('TalvekTestSwatch');

function App() {
  const [color, setColor] = React.useState('#ff0000');
  const [pings, setPings] = React.useState(0);
  const swatch = React.useRef(null);
  const onPing = (event) => {
    const { count, width } = event.nativeEvent;
    console.log('ping ' + count + ' width ' + width);
    setPings(count);
    if (count === 1) setColor('#0000ff');
    else dispatchCommand(swatch.current, 'finish', [count]);
  };
  return (
    <View style={{ flex: 1, backgroundColor: '#000000', padding: 30 }}>
      <Swatch ref={swatch} color={color} label="swatch" onPing={onPing} style={{ width: 80, height: 50 }} />
      <Text style={{ color: '#ffffff', marginTop: 10 }}>{'pings ' + pings}</Text>
    </View>
  );
}

AppRegistry.registerComponent('VirelantDesktop', () => App);
