// The protocol's JSON Schemas (docs/protocol) compile, tell good results from
// bad ones, and accept every result line the end-to-end suite received.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import Ajv2020 from 'ajv/dist/2020.js';

import { BUILD, ROOT, readJsonLines } from './support.mjs';

const PROTOCOL = path.join(ROOT, 'docs', 'protocol');
const ACTIONS = ['screenshot', 'move', 'click', 'right_click', 'scroll', 'drag', 'type', 'press',
  'press_combination', 'open_app', 'run_powershell', 'run_applescript', 'check_permissions',
  'list_displays', 'mouse_down', 'mouse_up', 'key_down', 'key_up', 'hold_key', 'cursor_position',
  'list_windows', 'focus_window', 'ui_elements', 'set_value'];
const urn = (name) => `urn:zelto-cua:protocol:${name}`;

function loadSchemas() {
  const ajv = new Ajv2020({ strict: true, strictRequired: false, allErrors: true });
  for (const file of readdirSync(PROTOCOL).filter((name) => name.endsWith('.schema.json'))) {
    const schema = JSON.parse(readFileSync(path.join(PROTOCOL, file), 'utf8'));
    assert.equal(schema.$id, urn(file.replace('.schema.json', '')), file);
    ajv.addSchema(schema);
  }
  return ajv;
}

// The schema a result line must satisfy, from the request that produced it.
function schemaFor(ajv, record) {
  if (record.exit_status === 1) return ajv.getSchema(urn('common') + '#/$defs/failure');
  if (ACTIONS.includes(record.action)) return ajv.getSchema(urn(`${record.action}.result`));
  return ajv.getSchema(urn('common') + '#/$defs/failure');
}

test('every schema compiles, and every action has params and result schemas', () => {
  const ajv = loadSchemas();
  for (const name of ['request', 'result', 'common', ...ACTIONS.flatMap((a) => [`${a}.params`, `${a}.result`])]) {
    assert.ok(ajv.getSchema(urn(name)), name);
  }
});

test('the schemas tell valid results and requests from broken ones', () => {
  const ajv = loadSchemas();
  const mapping = { display_relative: [960, 540], global: [960, 540], normalized: [0.5, 0.5],
    origin: [0, 0], physical: [960, 540], screen: [1920, 1080], sourceScreen: [1920.0, 1080.0] };
  const { global: _, ...noGlobal } = mapping;
  const shot = { display_id: '0,0,1920,1080', height: 1080, image: 'data:image/png;base64,iVBORw0KGgo=',
    scaleFactor: 1, sourceHeight: 1080, sourceWidth: 1920, width: 1920 };
  const { scaleFactor: __, ...fittedShot } = shot;
  const fitted = { ...fittedShot, format: 'jpeg', height: 882, image: 'data:image/jpeg;base64,/9j/', width: 1568 };
  const cases = [
    ['move.result', { data: mapping, ok: true }, true],
    ['move.result', { error: 'Missing position', ok: false }, true],
    ['move.result', { data: noGlobal, ok: true }, false],
    ['move.result', { data: mapping, error: 'x', ok: true }, false],
    ['move.result', { ok: false }, false],
    ['drag.result', { data: { end: mapping, start: mapping }, ok: true }, true],
    ['drag.result', { data: mapping, ok: true }, false],
    ['press.result', { ok: true }, true],
    ['press.result', { data: {}, ok: true }, false],
    ['screenshot.result', { data: shot, ok: true }, true],
    ['screenshot.result', { data: { ...shot, image: 'iVBORw0KGgo=' }, ok: true }, false],
    ['screenshot.result', { data: { ...shot, scaleFactor: 3 }, ok: true }, false],
    ['screenshot.result', { data: { code: 'windows_secure_desktop_blocked' }, error: 'GetDC failed', ok: false }, false],
    ['screenshot.result', { data: fitted, ok: true }, true],
    ['screenshot.result', { data: { ...fitted, format: 'png' }, ok: true }, false],
    ['screenshot.result', { data: { ...fitted, scaleFactor: 1 }, ok: true }, false],
    ['screenshot.params', { max_size: 1568, max_bytes: 750000, format: 'auto' }, true],
    ['screenshot.params', { max_size: 0 }, false],
    ['check_permissions.result', { data: { accessibility: true, screen_recording: true }, ok: true }, true],
    ['check_permissions.result', { data: { accessibility: false, screen_recording: true }, ok: true }, false],
    ['run_powershell.result', { data: { output: 'a\r\n' }, ok: true }, true],
    ['run_powershell.result', { error: 'x', ok: false, retryable: true }, false],
    ['open_app.result', { data: { app_name: 'Notepad', focused: true, foreground_title: 'a',
      maximized: true, pid: 4, target_title: 'a' }, ok: true }, true],
    ['open_app.result', { data: { app_name: 'Notepad', focused: false, foreground_title: 'a',
      maximized: true, pid: 4, target_title: 'a' }, ok: true }, false],
    ['list_displays.result', { data: { displays: [{ display_id: '-1280,0,1280,1024', height: 1024,
      primary: false, scale: 1.5, width: 1280, x: -1280, y: 0 }] }, ok: true }, true],
    ['list_displays.result', { data: { displays: [{ height: 1024, primary: false, width: 1280,
      x: -1280, y: 0 }] }, ok: true }, false],
    ['result', { error: 'No input received on stdin', ok: false }, true],
    ['result', { ok: false }, false],
    ['result', { error: 'x', ok: true }, false],
    ['request', { action: 'move', params: { position: [500, 500] } }, true],
    ['request', { action: '' }, false],
    ['move.params', { position: [0.5, 0.5], display_id: '0,0,1920,1080' }, true],
    ['move.params', { position: [0.5] }, false],
    ['move.params', {}, false],
    ['press_combination.params', { key1: 'ctrl', key3: 'c' }, true],
    ['press_combination.params', { key1: 'ctrl' }, false],
    ['scroll.params', { position: [1, 1], amount: 2.5 }, false],
  ];
  for (const [name, value, valid] of cases) {
    const validate = ajv.getSchema(urn(name));
    assert.equal(validate(value), valid, `${name} ${JSON.stringify(value)}`);
  }
});

test('every result line of the end-to-end suite matches its action\'s schema', () => {
  const log = process.env.ZELTO_E2E_RESULTS ?? path.join(BUILD, 'e2e-results.jsonl');
  assert.ok(existsSync(log), `no result log at ${log}: run the end-to-end suite first`);
  const ajv = loadSchemas();
  const records = readJsonLines(log);
  const seen = new Set();
  const failures = [];
  for (const record of records) {
    const lines = record.line.split('\n');
    let result;
    try {
      assert.equal(lines.length, 2, 'one line ending in a line feed');
      assert.equal(lines[1], '');
      result = JSON.parse(lines[0]);
    } catch (error) {
      failures.push(`${record.action}: ${error.message}: ${record.line.slice(0, 200)}`);
      continue;
    }
    const validate = schemaFor(ajv, record);
    if (!validate(result)) {
      failures.push(`${record.action}: ${ajv.errorsText(validate.errors)}: ${lines[0].slice(0, 300)}`);
    }
    if (record.exit_status === 0 && ACTIONS.includes(record.action)) seen.add(record.action);
  }
  assert.deepEqual(failures, []);
  assert.deepEqual(ACTIONS.filter((action) => !seen.has(action)), [], 'actions the suite never ran');
});
