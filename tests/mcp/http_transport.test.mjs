// zelto-cua-mcp.exe --http under Wine on 127.0.0.1, driven by the official
// SDK's Streamable HTTP client, and by plain requests for what that client
// never sends (no token, a foreign Origin, an unknown session, a large body).
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StreamableHTTPClientTransport } from '@modelcontextprotocol/sdk/client/streamableHttp.js';

import { MCP_EXE, PROBE, desktopEnv, stopDesktopUnlessKept, windowsPath } from './support.mjs';

const TOKEN = 'test-token-7f3a';
const PORT = 18000 + (process.pid % 1000);
const URL_MCP = `http://127.0.0.1:${PORT}/mcp`;
const AUTH = { Authorization: `Bearer ${TOKEN}` };

let env;
let server;
let stderr = '';
let tmp;
let probe;

async function connect() {
  const client = new Client({ name: 'zelto-cua-http-tests', version: '1.0.0' });
  await client.connect(new StreamableHTTPClientTransport(new URL(URL_MCP),
    { requestInit: { headers: AUTH } }));
  return client;
}

function post(body, headers = {}) {
  return fetch(URL_MCP, { method: 'POST', body,
    headers: { 'content-type': 'application/json', accept: 'application/json, text/event-stream',
      ...headers } });
}

const INITIALIZE = JSON.stringify({ jsonrpc: '2.0', id: 1, method: 'initialize',
  params: { protocolVersion: '2025-06-18', capabilities: {}, clientInfo: { name: 'raw', version: '1' } } });

before(async () => {
  assert.ok(existsSync(MCP_EXE), `not built: ${MCP_EXE}`);
  tmp = mkdtempSync(path.join(os.tmpdir(), 'zelto-mcp-http-'));
  env = { ...desktopEnv(), ZELTO_CUA_MCP_TOKEN: TOKEN };
  server = spawn('wine', [MCP_EXE, '--http', `127.0.0.1:${PORT}`], { env, stdio: ['ignore', 'ignore', 'pipe'] });
  server.stderr.on('data', (chunk) => { stderr += chunk.toString('utf8'); });
  const deadline = Date.now() + 60_000;
  while (!stderr.includes('serving MCP on')) {
    assert.ok(Date.now() < deadline && server.exitCode === null, `server did not start: ${stderr}`);
    await sleep(50);
  }
  // Something to see: a screenshot of a black screen is refused.
  const log = path.join(tmp, 'probe.log');
  probe = spawn('wine', [PROBE, 'window', windowsPath(log), '100', '100', '800', '600', '120'],
    { env, stdio: 'ignore', detached: true });
  while (!(existsSync(log) && readFileSync(log, 'utf8').includes('"ready"'))) {
    assert.ok(Date.now() < deadline, 'probe window never became ready');
    await sleep(50);
  }
  await sleep(1000);
});

after(() => {
  if (probe) process.kill(-probe.pid, 'SIGKILL');
  server?.kill('SIGKILL');
  stopDesktopUnlessKept();
  if (tmp) rmSync(tmp, { recursive: true, force: true });
});

function xPointer() {
  const out = execFileSync('xdotool', ['getmouselocation', '--shell'], { env }).toString();
  const values = Object.fromEntries(out.trim().split('\n').map((line) => line.split('=')));
  return [Number(values.X), Number(values.Y)];
}

test('two sessions at once, each pointing into its own screenshot', async () => {
  const [first, second] = await Promise.all([connect(), connect()]);
  try {
    const { tools } = await first.listTools();
    assert.ok(tools.some((tool) => tool.name === 'screenshot'));
    const shot = await first.callTool({ name: 'screenshot', arguments: {} });
    assert.equal(shot.isError, undefined, JSON.stringify(shot.content?.[1] ?? shot));
    // 1568x882 of 1920x1080: the image's centre is the display's.
    const click = await first.callTool({ name: 'click', arguments: { coordinate: [784, 441] } });
    assert.equal(click.isError, undefined, JSON.stringify(click));
    assert.deepEqual(click.structuredContent.physical, [960, 540]);
    assert.deepEqual(xPointer(), [960, 540]);
    const other = await second.callTool({ name: 'click', arguments: { coordinate: [784, 441] } });
    assert.equal(other.isError, true, 'the second session has taken no screenshot');
  } finally {
    await Promise.all([first.close(), second.close()]);
  }
});

test('a cancelled long call ends without an answer and the next call is served at once', async () => {
  const client = await connect();
  try {
    const abort = new AbortController();
    const long = client.callTool({ name: 'run_powershell', arguments: { script: 'Start-Sleep 20' } },
      undefined, { signal: abort.signal });
    await sleep(1000);
    abort.abort('test');
    await assert.rejects(long);
    const started = Date.now();
    const next = await client.callTool({ name: 'check_permissions', arguments: {} });
    assert.deepEqual(next.structuredContent, { accessibility: true, screen_recording: true });
    assert.ok(Date.now() - started < 10_000, 'the cancelled call was left to run');
  } finally {
    await client.close();
  }
});

test('refusals: no token, a foreign Origin, sessions, GET, a 2 MiB body', async () => {
  const lines = () => stderr.split('\n').filter((line) => line.startsWith('[CUA-mcp] refused'));
  const before = lines().length;
  const noToken = await post(INITIALIZE);
  assert.equal(noToken.status, 401);
  assert.equal(noToken.headers.get('www-authenticate'), 'Bearer');
  assert.equal((await post(INITIALIZE, { Authorization: 'Bearer nope' })).status, 401);
  assert.equal((await post(INITIALIZE, { ...AUTH, Origin: 'https://evil.example' })).status, 403);
  const ping = JSON.stringify({ jsonrpc: '2.0', id: 2, method: 'ping' });
  assert.equal((await post(ping, AUTH)).status, 400, 'no session');
  assert.equal((await post(ping, { ...AUTH, 'mcp-session-id': 'nosuchsession' })).status, 404);
  const opened = await post(INITIALIZE, AUTH);
  assert.equal(opened.status, 200);
  const session = opened.headers.get('mcp-session-id');
  assert.match(session, /^[0-9a-f]{32}$/);
  assert.equal((await opened.json()).result.protocolVersion, '2025-06-18');
  const inSession = { ...AUTH, 'mcp-session-id': session };
  assert.equal((await post(ping, { ...inSession, 'mcp-protocol-version': '1999-01-01' })).status, 400);
  const pong = await post(ping, { ...inSession, 'mcp-protocol-version': '2025-06-18' });
  assert.deepEqual(await pong.json(), { jsonrpc: '2.0', id: 2, result: {} });
  const note = JSON.stringify({ jsonrpc: '2.0', method: 'notifications/initialized' });
  assert.equal((await post(note, inSession)).status, 202);
  assert.equal((await fetch(URL_MCP, { headers: inSession })).status, 405);
  const big = JSON.stringify({ jsonrpc: '2.0', id: 3, method: 'ping', params: { pad: 'x'.repeat(2 << 20) } });
  assert.equal((await post(big, inSession)).status, 413);
  assert.equal((await fetch(URL_MCP, { method: 'DELETE', headers: inSession })).status, 204);
  assert.equal((await post(ping, inSession)).status, 404, 'ended by DELETE');
  await sleep(200);
  assert.equal(lines().length - before, 8, lines().slice(before).join('\n'));
  assert.ok(!stderr.includes(TOKEN), 'the token never reaches the log');
});

test('fifty clients that connect and send nothing do not hold up a real call', async () => {
  const idle = await Promise.all(Array.from({ length: 50 }, () => new Promise((connected, failed) => {
    const socket = net.connect(PORT, '127.0.0.1', () => connected(socket));
    socket.on('error', failed);
  })));
  try {
    const client = await connect();
    const started = Date.now();
    const result = await client.callTool({ name: 'check_permissions', arguments: {} });
    assert.equal(result.isError, undefined);
    assert.ok(Date.now() - started < 5000, `took ${Date.now() - started} ms`);
    await client.close();
  } finally {
    for (const socket of idle) socket.destroy();
  }
});
