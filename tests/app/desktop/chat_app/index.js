// A chat screen as the product has one: an inverted list of 10,000 messages
// (the newest at the bottom) built with React Native's own FlatList, and a
// composer bar. What the list shows goes to the console.
import { AppRegistry } from 'react-native';

import App from './App';

AppRegistry.registerComponent('VirelantDesktop', () => App);
