import React, { useCallback, useRef, useState } from 'react';
import { FlatList, Pressable, StyleSheet, Text, TextInput, View } from 'react-native';

const COUNT = 10000;
// Newest first: the inverted list draws index 0 at the bottom.
const MESSAGES = Array.from({ length: COUNT }, (_, i) => ({ id: String(i), text: 'Message ' + (COUNT - 1 - i) }));

function Row({ item, index }) {
  return (
    <View style={[styles.row, index % 2 ? styles.odd : styles.even]}>
      <Text style={styles.text}>{item.text}</Text>
    </View>
  );
}

export default function App() {
  const list = useRef(null);
  const seen = useRef({ older: false }).current;
  const [draft, setDraft] = useState('');
  const onViewable = useRef(({ viewableItems }) => {
    if (viewableItems.length === 0) return;
    const indices = viewableItems.map((v) => v.index);
    const first = Math.min(...indices);
    console.log('viewable ' + first + '-' + Math.max(...indices));
    if (first >= 20 && !seen.older) {
      seen.older = true;
      console.log('older messages shown');
    } else if (first === 0 && seen.older) {
      console.log('back at the newest');
    }
  }).current;
  const toNewest = useCallback(() => list.current && list.current.scrollToOffset({ offset: 0, animated: false }), []);
  return (
    <View style={styles.root}>
      <FlatList
        ref={list}
        inverted
        data={MESSAGES}
        keyExtractor={(m) => m.id}
        renderItem={({ item, index }) => <Row item={item} index={index} />}
        onViewableItemsChanged={onViewable}
        viewabilityConfig={{ itemVisiblePercentThreshold: 50 }}
        style={styles.list}
      />
      <Pressable onPress={toNewest} style={styles.composer}>
        <Text style={styles.composerText}>Newest</Text>
      </Pressable>
      <TextInput
        style={styles.input}
        value={draft}
        placeholder="Write a message"
        submitBehavior="submit"
        onChangeText={(text) => {
          setDraft(text);
          console.log('draft ' + text);
        }}
        onSubmitEditing={(e) => {
          console.log('sent ' + e.nativeEvent.text);
          setDraft('');
        }}
      />
    </View>
  );
}

const styles = StyleSheet.create({
  root: { flex: 1, backgroundColor: '#000000' },
  list: { flex: 1 },
  row: { height: 40, justifyContent: 'center', paddingHorizontal: 12 },
  even: { backgroundColor: '#303030' },
  odd: { backgroundColor: '#505050' },
  text: { color: '#ffffff', fontSize: 14 },
  composer: { height: 48, backgroundColor: '#0000ff', justifyContent: 'center', paddingHorizontal: 12 },
  composerText: { color: '#ffffff', fontSize: 14 },
  input: { backgroundColor: '#ffff00', color: '#000000', fontSize: 16, padding: 8 },
});
