// zelto-cua-mcp.exe under Wine, driven by the official MCP TypeScript SDK's
// client, and by hand over a raw pipe for what a well-behaved client never sends.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import Ajv2020 from 'ajv/dist/2020.js';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { BUILD, MCP_EXE, PROBE, PROJECT_VERSION, desktopEnv, readPng, stopDesktopUnlessKept, windowsPath } from './support.mjs';

const TOOLS = ['screenshot', 'move', 'click', 'right_click', 'scroll', 'drag', 'type', 'press',
  'press_combination', 'open_app', 'run_powershell', 'check_permissions', 'list_displays',
  'mouse_down', 'mouse_up', 'key_down', 'key_up', 'hold_key', 'cursor_position', 'zoom', 'wait',
  'list_windows', 'focus_window', 'ui_elements', 'set_value'];
const WHITE = [255, 255, 255, 255];

let tmp;
let env;
let client;

before(async () => {
  assert.ok(existsSync(MCP_EXE), `not built: ${MCP_EXE}`);
  tmp = mkdtempSync(path.join(os.tmpdir(), 'zelto-mcp-'));
  // Each stand-in PowerShell process appends its id here; the marker also
  // finds its Wine process below.
  env = { ...desktopEnv(), ZELTO_STANDIN_PID_LOG: windowsPath(path.join(tmp, 'standin-pids.log')) };
  client = new Client({ name: 'zelto-cua-tests', version: '1.0.0' });
  await client.connect(new StdioClientTransport({ command: 'wine', args: [MCP_EXE], env, stderr: 'ignore' }));
});

after(async () => {
  await client?.close();
  stopDesktopUnlessKept();
  if (tmp) rmSync(tmp, { recursive: true, force: true });
});

function xPointer() {
  const out = execFileSync('xdotool', ['getmouselocation', '--shell'], { env }).toString();
  const values = Object.fromEntries(out.trim().split('\n').map((line) => line.split('=')));
  return [Number(values.X), Number(values.Y)];
}

test('the client meets zelto-cua and lists the tools with usable input schemas', async () => {
  assert.equal(client.getServerVersion().name, 'zelto-cua');
  assert.equal(client.getServerVersion().version, PROJECT_VERSION);
  const { tools } = await client.listTools();
  assert.deepEqual(tools.map((tool) => tool.name).sort(), [...TOOLS].sort());
  const ajv = new Ajv2020({ strict: false });
  for (const tool of tools) {
    assert.equal(tool.inputSchema.type, 'object', tool.name);
    assert.equal(typeof ajv.compile(tool.inputSchema), 'function', tool.name);
  }
  const byName = Object.fromEntries(tools.map((tool) => [tool.name, tool]));
  assert.equal(byName.screenshot.annotations.readOnlyHint, true);
  assert.equal(byName.run_powershell.annotations.destructiveHint, true);
});

test('move returns the mapping and puts the X pointer there', async () => {
  const result = await client.callTool({ name: 'move', arguments: { position: [500, 500] } });
  assert.equal(result.isError, undefined);
  const mapping = { display_relative: [960, 540], global: [960, 540], normalized: [0.5, 0.5],
    origin: [0, 0], physical: [960, 540], screen: [1920, 1080], sourceScreen: [1920, 1080] };
  assert.deepEqual(result.structuredContent, mapping);
  assert.deepEqual(JSON.parse(result.content[0].text), mapping);
  assert.deepEqual(xPointer(), [960, 540]);
});

test('a screenshot comes back as an image item showing the probe window, then a text', async () => {
  const log = path.join(tmp, 'probe.log');
  const rect = [300, 200, 640, 480];
  const probe = spawn('wine', [PROBE, 'window', windowsPath(log), ...rect.map(String), '60'],
    { env, stdio: 'ignore', detached: true });
  try {
    const deadline = Date.now() + 30_000;
    while (!(existsSync(log) && readFileSync(log, 'utf8').includes('"ready"'))) {
      assert.ok(Date.now() < deadline, 'probe window never became ready');
      await sleep(50);
    }
    const ready = readFileSync(log, 'utf8').split('\n').map((l) => l.trim()).filter(Boolean)
      .map((l) => JSON.parse(l)).find((m) => m.msg === 'ready');
    await sleep(1000); // let the window be painted on the X screen
    const result = await client.callTool({ name: 'screenshot', arguments: {} });
    assert.equal(result.isError, undefined);
    assert.equal(result.structuredContent, undefined, 'no structuredContent beside the image');
    assert.equal(result.content.length, 2);
    const [image, text] = result.content;
    assert.equal(image.type, 'image');
    assert.equal(image.mimeType, 'image/png', 'a plain desktop fits as PNG');
    assert.ok(!image.data.startsWith('data:'), 'plain base64, no data URL');
    const png = readPng(Buffer.from(image.data, 'base64'));
    assert.deepEqual([png.width, png.height], [1568, 882], 'fitted to 1568 px by default');
    const scale = 1568 / 1920;
    const [left, top, right, bottom] = ready.rect;
    for (const [x, y] of [[left + 40, top + 40], [right - 40, bottom - 40],
      [(left + right) >> 1, (top + bottom) >> 1], [left + 40, bottom - 40]]) {
      const [ix, iy] = [Math.round(x * scale), Math.round(y * scale)];
      assert.deepEqual(png.pixel(ix, iy), WHITE, `inside the probe window at ${ix},${iy}`);
    }
    assert.equal(text.type, 'text');
    assert.match(text.text, /^display_id 0,0,1920,1080: a 1568x882 PNG image of the 1920x1080-pixel display/);
  } finally {
    process.kill(-probe.pid, 'SIGKILL');
  }
});

test('ui_elements of the probe\'s controls, then a click by element lands on that control', async () => {
  const log = path.join(tmp, 'controls.log');
  const probe = spawn('wine', [PROBE, 'controls', windowsPath(log), '90', '5000'],
    { env, stdio: 'ignore', detached: true });
  const messages = () => (existsSync(log) ? readFileSync(log, 'utf8') : '').split('\n')
    .map((l) => l.trim()).filter(Boolean).map((l) => JSON.parse(l));
  try {
    const deadline = Date.now() + 60_000;
    while (!messages().some((m) => m.msg === 'controls')) {
      assert.ok(Date.now() < deadline, 'controls window never became ready');
      await sleep(50);
    }
    await client.callTool({ name: 'screenshot', arguments: {} });
    const windows = await client.callTool({ name: 'list_windows', arguments: {} });
    const controls = windows.structuredContent.windows.find((w) => w.title === 'Zelto Controls');
    assert.ok(controls, 'list_windows names the probe');
    const listed = await client.callTool({ name: 'ui_elements', arguments: { window_id: controls.id } });
    assert.equal(listed.isError, undefined, JSON.stringify(listed));
    const text = listed.content[0].text;
    // [id] role "name" (position) [screenshot coordinate]
    const line = text.split('\n').find((l) => /^\[\d+\] button "Press me" \([\d.]+, [\d.]+\) \[\d+, \d+\]/.test(l));
    assert.ok(line, text.slice(0, 600));
    const id = Number(line.match(/^\[(\d+)\]/)[1]);
    const clicked = await client.callTool({ name: 'click', arguments: { element: id } });
    assert.equal(clicked.isError, undefined, JSON.stringify(clicked));
    while (!messages().some((m) => m.msg === 'bn_clicked')) {
      assert.ok(Date.now() < deadline, 'the button never got BN_CLICKED');
      await sleep(50);
    }
    // 500 elements (the bound, of 5000 list items) within the response-line limit.
    const many = await client.callTool({ name: 'ui_elements',
      arguments: { window_id: controls.id, include_offscreen: true, time_limit_ms: 10000 } });
    assert.equal(many.isError, undefined);
    assert.equal(many.structuredContent.elements.length, 500);
    assert.equal(many.structuredContent.truncated, true);
    assert.ok(JSON.stringify(many).length < 1_000_000);
    const stale = await client.callTool({ name: 'click', arguments: { element: 4999 } });
    assert.equal(stale.isError, true);
  } finally {
    process.kill(-probe.pid, 'SIGKILL');
  }
});

test('an action failure is a tool error with the executor\'s message', async () => {
  const result = await client.callTool({ name: 'press', arguments: { key: 'nosuchkey' } });
  assert.equal(result.isError, true);
  assert.deepEqual(result.content, [{ type: 'text', text: 'Unknown key: nosuchkey' }]);
});

test('an unknown tool is a JSON-RPC error', async () => {
  await assert.rejects(client.callTool({ name: 'run_applescript', arguments: { script: 'x' } }),
    (error) => error.code === -32602 && /Unknown tool: run_applescript/.test(error.message));
});

// The server over a plain pipe: lines out are read one by one, in order.
class RawServer {
  constructor() {
    this.process = spawn('wine', [MCP_EXE], { env, stdio: ['pipe', 'pipe', 'ignore'] });
    this.lines = [];
    this.waiters = [];
    let pending = '';
    this.process.stdout.on('data', (chunk) => {
      pending += chunk.toString('utf8');
      let newline;
      while ((newline = pending.indexOf('\n')) >= 0) {
        this.lines.push(JSON.parse(pending.slice(0, newline)));
        pending = pending.slice(newline + 1);
        this.waiters.splice(0).forEach((wake) => wake());
      }
    });
    this.exited = new Promise((resolve) => this.process.on('exit', (code) => resolve(code)));
  }
  send(text) { this.process.stdin.write(text + '\n'); }
  request(id, method, params) { this.send(JSON.stringify({ jsonrpc: '2.0', id, method, params })); }
  async next(timeoutMs = 20_000) {
    const deadline = Date.now() + timeoutMs;
    while (this.lines.length === 0) {
      const left = deadline - Date.now();
      if (left <= 0) throw new Error('no line from the server');
      await Promise.race([new Promise((wake) => this.waiters.push(wake)), sleep(left)]);
    }
    return this.lines.shift();
  }
  async close() {
    this.process.stdin.end();
    return Promise.race([this.exited, sleep(15_000).then(() => 'still running')]);
  }
}

test('over a raw pipe, bad lines get their errors in order and the server keeps serving', async () => {
  const server = new RawServer();
  server.send('this is not json');
  server.send(JSON.stringify({ id: 1, method: 'ping' }));
  server.request(2, 'no/such/method');
  server.request(3, 'ping');
  const answers = [await server.next(), await server.next(), await server.next(), await server.next()];
  assert.deepEqual(answers.map((a) => [a.id, a.error?.code ?? 'result']),
    [[null, -32700], [1, -32600], [2, -32601], [3, 'result']]);
  assert.deepEqual(answers[3].result, {});
  await sleep(200);
  assert.equal(server.process.exitCode, null, 'still running');
  assert.equal(await server.close(), 0, 'ends cleanly when its input closes');
});

// Wine processes of the stand-in PowerShell started by this test run.
function standins() {
  const marker = `ZELTO_STANDIN_PID_LOG=${env.ZELTO_STANDIN_PID_LOG}`;
  return readdirSync('/proc').filter((entry) => /^\d+$/.test(entry)).filter((pid) => {
    try {
      return readFileSync(`/proc/${pid}/cmdline`, 'latin1').toLowerCase().includes('powershell.exe') &&
        readFileSync(`/proc/${pid}/environ`, 'latin1').split('\0').includes(marker);
    } catch {
      return false; // gone meanwhile, or not ours to read
    }
  });
}

test('a cancelled call ends its PowerShell child, gets no answer, and the next call is served', async () => {
  const server = new RawServer();
  server.request(1, 'initialize', { protocolVersion: '2025-06-18', capabilities: {},
    clientInfo: { name: 'raw', version: '1' } });
  assert.equal((await server.next()).result.protocolVersion, '2025-06-18');
  server.send(JSON.stringify({ jsonrpc: '2.0', method: 'notifications/initialized' }));
  server.request(2, 'tools/call', { name: 'run_powershell', arguments: { script: 'Start-Sleep 20' } });
  await sleep(1000);
  assert.ok(standins().length > 0, 'the stand-in is running');
  server.send(JSON.stringify({ jsonrpc: '2.0', method: 'notifications/cancelled',
    params: { requestId: 2, reason: 'test' } }));
  const cancelledAt = Date.now();
  while (standins().length > 0) {
    assert.ok(Date.now() - cancelledAt < 2000, 'the stand-in outlived the cancellation by 2 s');
    await sleep(50);
  }
  server.request(3, 'tools/call', { name: 'check_permissions', arguments: {} });
  const next = await server.next();
  assert.equal(next.id, 3, 'no answer for the cancelled call');
  assert.deepEqual(next.result.structuredContent, { accessibility: true, screen_recording: true });
  assert.equal(await server.close(), 0);
  assert.deepEqual(server.lines, []);
});
