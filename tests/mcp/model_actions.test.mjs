// Every action of Anthropic's and OpenAI's computer tools as one call of this
// server, with image-pixel coordinates, observed by the probe's buttons window;
// and a client that goes away while holding shift and the left button.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { MCP_EXE, PROBE, desktopEnv, stopDesktopUnlessKept, windowsPath } from './support.mjs';

let tmp;
let env;

before(() => {
  assert.ok(existsSync(MCP_EXE), `not built: ${MCP_EXE}`);
  tmp = mkdtempSync(path.join(os.tmpdir(), 'zelto-mcp-actions-'));
  env = desktopEnv();
});

after(() => {
  stopDesktopUnlessKept();
  if (tmp) rmSync(tmp, { recursive: true, force: true });
});

const messages = (log) => (existsSync(log) ? readFileSync(log, 'utf8') : '').split('\n')
  .map((line) => line.trim()).filter(Boolean).map((line) => JSON.parse(line));

async function openProbe(name) {
  const log = path.join(tmp, `${name}.log`);
  const probe = spawn('wine', [PROBE, 'buttons', windowsPath(log), '100', '100', '640', '480', '120'],
    { env, stdio: 'ignore', detached: true });
  const deadline = Date.now() + 30_000;
  while (!messages(log).some((m) => m.msg === 'ready')) {
    assert.ok(Date.now() < deadline, 'probe window never became ready');
    await sleep(50);
  }
  await sleep(500);
  return { log, close: () => process.kill(-probe.pid, 'SIGKILL') };
}

async function connect() {
  const client = new Client({ name: 'zelto-cua-model-actions', version: '1.0.0' });
  await client.connect(new StdioClientTransport({ command: 'wine', args: [MCP_EXE], env, stderr: 'ignore' }));
  return client;
}

// Screen (480, 270), inside the probe window, in the 1568x882 screenshot image.
const AT = [392, 220];
const AT2 = [470, 264];
const AT3 = [470, 300];

// Model action -> the one call of this server that serves it, and what the probe must see.
const CALLS = [
  ['anthropic screenshot', 'screenshot', {}],
  ['anthropic left_click', 'click', { coordinate: AT }, 'lbuttondown'],
  ['anthropic left_click text shift', 'click', { coordinate: AT, modifiers: ['shift'] }],
  ['anthropic right_click', 'right_click', { coordinate: AT }, 'rbuttondown'],
  ['anthropic middle_click', 'click', { coordinate: AT, button: 'middle' }, 'mbuttondown'],
  ['anthropic double_click', 'click', { coordinate: AT, clicks: 2 }, 'lbuttondblclk'],
  ['anthropic triple_click', 'click', { coordinate: AT, clicks: 3 }, 'lbuttondblclk'],
  ['anthropic mouse_move', 'move', { coordinate: AT2 }],
  ['anthropic left_click_drag', 'drag', { coordinate1: AT, coordinate2: AT2 }, 'lbuttonup'],
  ['anthropic left_mouse_down', 'mouse_down', {}, 'lbuttondown'],
  ['anthropic left_mouse_up', 'mouse_up', {}, 'lbuttonup'],
  ['anthropic scroll', 'scroll', { coordinate: AT, direction: 'right', amount: 2, modifiers: ['ctrl'] }, 'mousehwheel'],
  ['anthropic type', 'type', { text: 'ok' }, 'char'],
  ['anthropic key', 'press', { key: 'ctrl+shift+t' }, 'keydown'],
  ['anthropic key xdotool name', 'press', { key: 'Page_Down' }],
  ['anthropic hold_key', 'hold_key', { key: 'shift', duration: 0.5 }],
  ['anthropic wait', 'wait', { seconds: 0.2 }],
  ['anthropic cursor_position', 'cursor_position', {}],
  ['anthropic zoom', 'zoom', { region: [300, 150, 500, 300] }],
  ['openai click back', 'click', { coordinate: AT, button: 'back' }, 'xbuttondown'],
  ['openai click wheel with keys', 'click', { coordinate: AT, button: 'wheel', modifiers: ['CTRL'] }, 'mbuttondown'],
  ['openai double_click', 'click', { coordinate: AT, clicks: 2 }],
  ['openai drag path', 'drag', { path: [AT, AT2, AT3] }],
  ['openai keypress', 'press', { keys: ['CTRL', 'A'] }],
  ['openai move', 'move', { coordinate: AT }],
  ['openai scroll', 'scroll', { coordinate: AT, direction: 'down', amount: 3 }, 'mousewheel'],
  ['openai type', 'type', { text: 'x' }],
  ['openai wait', 'wait', { seconds: 0.1, screenshot: true }],
];

test('every model action is one tool call that the window sees', async () => {
  const probe = await openProbe('actions');
  const client = await connect();
  try {
    for (const [action, tool, args, expected] of CALLS) {
      const before = messages(probe.log).length;
      const result = await client.callTool({ name: tool, arguments: args });
      assert.equal(result.isError, undefined, `${action}: ${JSON.stringify(result.content)}`);
      if (expected) {
        const deadline = Date.now() + 5000;
        while (!messages(probe.log).slice(before).some((m) => m.msg === expected)) {
          assert.ok(Date.now() < deadline, `${action}: the window never saw ${expected}`);
          await sleep(50);
        }
      }
      if (tool === 'zoom') {
        assert.equal(result.content[0].type, 'image');
      }
      if (tool === 'cursor_position') {
        assert.equal(result.structuredContent.display_id, '0,0,1920,1080');
        assert.equal(result.structuredContent.coordinate.length, 2);
      }
    }
    // A model's Delete is the forward Delete key, its BackSpace the other one.
    const before = messages(probe.log).length;
    await client.callTool({ name: 'press', arguments: { key: 'Delete' } });
    await client.callTool({ name: 'press', arguments: { key: 'BackSpace' } });
    await sleep(500);
    const keys = messages(probe.log).slice(before).filter((m) => m.msg === 'keydown').map((m) => m.vk);
    assert.deepEqual(keys, [0x2e, 0x08]);
  } finally {
    await client.close();
    probe.close();
  }
});

test('a client that disconnects holding shift and the left button leaves both up', async () => {
  const probe = await openProbe('held');
  const client = await connect();
  try {
    for (const [tool, args] of [['move', { position: [0.25, 0.25] }], ['key_down', { key: 'Shift_L' }],
      ['mouse_down', { button: 'left' }]]) {
      const result = await client.callTool({ name: tool, arguments: args });
      assert.equal(result.isError, undefined, JSON.stringify(result.content));
    }
  } finally {
    await client.close();
  }
  try {
    const deadline = Date.now() + 15_000;
    const seen = () => messages(probe.log).filter((m) => ['lbuttondown', 'lbuttonup', 'keydown', 'keyup'].includes(m.msg))
      .map((m) => m.msg + (m.vk ? `:${m.vk}` : ''));
    while (!seen().includes('keyup:16')) {
      assert.ok(Date.now() < deadline, `nothing let up: ${seen()}`);
      await sleep(100);
    }
    // Released in reverse order: the button first, then shift.
    assert.deepEqual(seen(), ['keydown:16', 'lbuttondown', 'lbuttonup', 'keyup:16']);
    await sleep(200);
    const states = messages(probe.log).filter((m) => m.msg === 'keystate');
    assert.equal(states.at(-1).shift, false);
  } finally {
    probe.close();
  }
});
