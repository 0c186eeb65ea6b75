// A React app with three text inputs one above the other (red, green, blue
// backgrounds) and a multi-line composer (yellow) that sends on Enter; focus,
// typing and submits go to the console.
import { React, View, requireNativeComponent } from 'talvek-renderer';

const TextInput = requireNativeComponent('RCTSinglelineTextInputView');
const MultilineInput = requireNativeComponent('RCTMultilineTextInputView');

function Field({ name, colour }) {
  return (
    <TextInput
      style={{ height: 32, marginBottom: 12, backgroundColor: colour, fontSize: 16, padding: 6 }}
      placeholder={name}
      onFocus={() => console.log('focus ' + name)}
      onBlur={() => console.log('blur ' + name)}
      onChange={(e) => console.log('change ' + name + ' ' + e.nativeEvent.text)}
    />
  );
}

function App() {
  return (
    <View style={{ flex: 1, backgroundColor: '#000000', padding: 20 }}>
      <Field name="first" colour="#ff0000" />
      <Field name="second" colour="#00ff00" />
      <Field name="third" colour="#0000ff" />
      <MultilineInput
        style={{ maxHeight: 100, backgroundColor: '#ffff00', fontSize: 16, padding: 6 }}
        submitBehavior="submit"
        placeholder="composer"
        onFocus={() => console.log('focus composer')}
        onChange={(e) => console.log('composer lines ' + e.nativeEvent.text.split('\n').length)}
        onSubmitEditing={(e) => console.log('composer sent ' + JSON.stringify(e.nativeEvent.text))}
      />
    </View>
  );
}

AppRegistry.registerComponent('VirelantDesktop', () => App);
console.log('form app loaded');
