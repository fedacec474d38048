// list_displays through the official MCP client, on the two-monitor desktop
// (scripts/desktop.sh, layout two-monitors; the end-to-end suite's displays).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { BUILD, MCP_EXE, ROOT } from './support.mjs';

const display = process.env.ZELTO_TWO_MONITOR_DISPLAY ?? ':97';
const settings = {
  ZELTO_LAYOUT: 'two-monitors',
  ZELTO_DISPLAY: display,
  ZELTO_HOST_DISPLAY: process.env.ZELTO_TWO_MONITOR_HOST_DISPLAY ?? `:${Number(display.slice(1)) - 10}`,
  ZELTO_WINEPREFIX: path.join(BUILD, 'wineprefix-two-monitors'),
};
let env;
let client;

before(async () => {
  const dump = execFileSync('bash', ['-c', 'eval "$(bash scripts/desktop.sh start)" && env -0'],
    { cwd: ROOT, env: { ...process.env, ...settings }, stdio: ['ignore', 'pipe', 'inherit'], timeout: 300_000 });
  env = Object.fromEntries(dump.toString('utf8').split('\0').filter(Boolean)
    .map((entry) => [entry.slice(0, entry.indexOf('=')), entry.slice(entry.indexOf('=') + 1)]));
  client = new Client({ name: 'zelto-cua-tests', version: '1.0.0' });
  await client.connect(new StdioClientTransport({ command: 'wine', args: [MCP_EXE], env, stderr: 'ignore' }));
});

after(async () => {
  await client?.close();
  if (env) execFileSync('bash', ['scripts/desktop.sh', 'stop'], { cwd: ROOT, env, stdio: 'ignore' });
});

test('list_displays lists both monitors, the left one first', async () => {
  const { tools } = await client.listTools();
  const tool = tools.find((entry) => entry.name === 'list_displays');
  assert.equal(tool?.annotations.readOnlyHint, true);
  assert.deepEqual(tool.inputSchema.properties, {});
  const result = await client.callTool({ name: 'list_displays', arguments: {} });
  assert.equal(result.isError, undefined);
  const displays = [
    { display_id: '-1280,0,1280,1024', height: 1024, primary: false, scale: 1, width: 1280, x: -1280, y: 0 },
    { display_id: '0,0,1920,1080', height: 1080, primary: true, scale: 1, width: 1920, x: 0, y: 0 },
  ];
  assert.deepEqual(JSON.parse(result.content[0].text), { displays });
});
