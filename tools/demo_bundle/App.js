import React, { useEffect, useState } from 'react';
import { Image, Pressable, ScrollView, StyleSheet, Text, View } from 'react-native';

import { MODULE_NAMES, describeModule, probe } from './probes';

// A 2x2 picture, so an image shows even before anything was cached.
const SAMPLE_IMAGE =
  'data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEklEQVR4nGPQzbn/f4MDA4QCAC5lBs8tZscmAAAAAElFTkSuQmCC';

function ModuleRow({ info, answer }) {
  return (
    <View style={styles.row} testID={'module-' + info.name}>
      <View style={[styles.dot, info.present ? styles.dotOn : styles.dotOff]} />
      <View style={styles.rowText}>
        <Text style={styles.moduleName}>{info.name}</Text>
        <Text style={styles.detail} numberOfLines={2}>
          {info.present ? info.methods.join(', ') : 'not in this build'}
        </Text>
        {answer ? (
          <Text style={styles.answer} numberOfLines={2}>
            {answer}
          </Text>
        ) : null}
      </View>
    </View>
  );
}

function Button({ title, onPress }) {
  return (
    <Pressable onPress={onPress} style={({ pressed }) => [styles.button, pressed && styles.buttonPressed]}>
      <Text style={styles.buttonText}>{title}</Text>
    </Pressable>
  );
}

export default function App({ rootTag }) {
  const [modules] = useState(() => MODULE_NAMES.map(describeModule));
  const [answers, setAnswers] = useState({});
  const [visits, setVisits] = useState(null);
  const [thumb, setThumb] = useState(SAMPLE_IMAGE);

  useEffect(() => {
    let live = true;
    (async () => {
      console.log('TALVEK demo bundle, root tag ' + (rootTag ?? 1));
      for (const info of modules) console.log(info.text);
      for (const info of modules) {
        const answer = await probe(info.name);
        if (answer === null) continue;
        console.log('  ' + answer);
        if (live) setAnswers((a) => ({ ...a, [info.name]: answer }));
      }
      console.log('demo bundle done');
    })();
    return () => {
      live = false;
    };
  }, [modules, rootTag]);

  const countVisit = async () => {
    const kv = globalThis.__turboModuleProxy('KV');
    if (kv === null) return;
    const next = Number((await kv.get('demo.visits')) || '0') + 1;
    await kv.set('demo.visits', String(next));
    setVisits(next);
    console.log('visits ' + next);
  };
  // An attachment's thumbnail (a JPEG data URI) or, when it has none, the
  // staged file itself.
  const attachPicture = async () => {
    const attach = globalThis.__turboModuleProxy('Attach');
    if (attach === null) return;
    const picked = await attach.pickFiles('media', false, 1, 'Pictures').catch(() => []);
    const first = picked.find((item) => !item.error);
    if (first) setThumb(first.thumb || 'file://' + first.path);
  };

  // The share sheet with a text and a link; its answer shows in Share's row.
  const shareLink = async () => {
    const share = globalThis.__turboModuleProxy('Share');
    if (share === null) return;
    let answer;
    try {
      const result = await share.share({
        text: 'Shared from the TALVEK demo',
        url: 'https://example.com/',
        anchor: { x: 0, y: 0, width: 0, height: 0 },
      });
      answer = 'share ' + JSON.stringify(result);
    } catch (e) {
      answer = 'share rejects ' + JSON.stringify({ code: e.code, message: e.message });
    }
    console.log(answer);
    setAnswers((a) => ({ ...a, Share: answer }));
  };

  return (
    <View style={styles.root}>
      <View style={styles.header}>
        <Text style={styles.title}>TALVEK</Text>
        <Text style={styles.subtitle}>
          Native modules of this build <Text style={styles.count}>({modules.filter((m) => m.present).length})</Text>
        </Text>
      </View>
      <View style={styles.actions}>
        <Button title={visits === null ? 'Count a visit' : 'Visits: ' + visits} onPress={countVisit} />
        <Button title="Attach a picture" onPress={attachPicture} />
        <Button title="Share a link" onPress={shareLink} />
        <Image source={{ uri: thumb }} style={styles.thumb} resizeMode="cover" />
      </View>
      <ScrollView style={styles.list}>
        {modules.map((info) => (
          <ModuleRow key={info.name} info={info} answer={answers[info.name]} />
        ))}
      </ScrollView>
    </View>
  );
}

const styles = StyleSheet.create({
  root: { flex: 1, backgroundColor: '#15161b', padding: 24 },
  header: { marginBottom: 16 },
  title: { color: '#f2f2f5', fontSize: 28, fontWeight: 'bold' },
  subtitle: { color: '#a8a9b4', fontSize: 15, marginTop: 4 },
  count: { color: '#6fb3ff' },
  actions: { flexDirection: 'row', alignItems: 'center', marginBottom: 16 },
  button: { backgroundColor: '#2d6cdf', borderRadius: 6, paddingVertical: 8, paddingHorizontal: 14, marginRight: 12 },
  buttonPressed: { backgroundColor: '#1d4fae' },
  buttonText: { color: '#ffffff', fontSize: 14, fontWeight: '600' },
  thumb: { width: 40, height: 40, borderRadius: 4, backgroundColor: '#30313a' },
  list: { flex: 1 },
  row: { flexDirection: 'row', alignItems: 'flex-start', paddingVertical: 8, borderBottomWidth: 1, borderColor: '#26272f' },
  dot: { width: 10, height: 10, borderRadius: 5, marginTop: 5, marginRight: 10 },
  dotOn: { backgroundColor: '#3ccf7a' },
  dotOff: { backgroundColor: '#6b6c75' },
  rowText: { flex: 1 },
  moduleName: { color: '#f2f2f5', fontSize: 16, fontWeight: '600' },
  detail: { color: '#8d8e99', fontSize: 12, marginTop: 2 },
  answer: { color: '#c9e3ff', fontSize: 12, marginTop: 2 },
});
