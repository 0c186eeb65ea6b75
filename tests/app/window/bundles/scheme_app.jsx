// A React app whose background follows the desktop's colour scheme.
import { React, View } from 'talvek-renderer';

const appearance = __turboModuleProxy('Appearance');

function App() {
  const [scheme, setScheme] = React.useState(appearance.getColorScheme());
  React.useEffect(() => {
    const subscription = RCTDeviceEventEmitter.addListener('appearanceChanged', (event) => setScheme(event.colorScheme));
    return () => subscription && subscription.remove && subscription.remove();
  }, []);
  React.useEffect(() => console.log('scheme ' + scheme), [scheme]);
  return <View style={{ flex: 1, backgroundColor: scheme === 'dark' ? '#102030' : '#f0e0d0' }} />;
}

AppRegistry.registerComponent('VirelantDesktop', () => App);
