// The demo app: a React Native app that shows which native modules this
// build offers and what they answer, with buttons that call them. Built by
// Metro into Bundle/index.windows; without a display it prints the same
// answers.
import { AppRegistry } from 'react-native';

import App from './App';

AppRegistry.registerComponent('VirelantDesktop', () => App);
