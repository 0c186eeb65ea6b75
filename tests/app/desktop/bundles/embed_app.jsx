// A React app with embed views: two with valid video ids, one with a bad
// one; every state and external link goes to the console.
import { React, View, Text, requireNativeComponent } from 'talvek-renderer';

const EmbedView = requireNativeComponent('TalvekEmbedView');

function Embed({ name, vid, style, onLoaded }) {
  const [state, setState] = React.useState('waiting');
  return (
    <View style={{ marginBottom: 10 }}>
      <EmbedView
        vid={vid}
        kind="youtube"
        style={style}
        onEmbedState={(event) => {
          const { state: now, reason } = event.nativeEvent;
          console.log('embed ' + name + ' ' + now + ' ' + reason);
          setState(now);
          if (onLoaded) onLoaded(now);
        }}
        onEmbedExternal={(event) => console.log('external ' + name + ' ' + event.nativeEvent.url)}
      />
      <Text style={{ color: '#ffffff' }}>{name + ': ' + state}</Text>
    </View>
  );
}

function App() {
  const [vid, setVid] = React.useState('dQw4w9WgXcQ');
  return (
    <View style={{ flex: 1, backgroundColor: '#202020', padding: 20 }}>
      <Embed
        name="first"
        vid={vid}
        style={{ width: 320, height: 180 }}
        onLoaded={(state) => {
          // A new id after loading started changes nothing.
          if (state === 'ready') setVid('aaaaaaaaaaa');
        }}
      />
      <Embed name="second" vid="M7lc1UVf-VE" style={{ width: 160, height: 90 }} />
      <Embed name="third" vid="bad id!" style={{ width: 160, height: 90 }} />
    </View>
  );
}

AppRegistry.registerComponent('VirelantDesktop', () => App);
console.log('embed app loaded');
