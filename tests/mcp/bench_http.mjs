// By hand, on the test desktop: calls per second and latency of tools/call
// "check_permissions" over stdio and over HTTP on 127.0.0.1 in one run, then
// the server's resident memory with 50 idle HTTP sessions. Not part of the test run.
//   node tests/mcp/bench_http.mjs [calls]
import { execFileSync, spawn } from 'node:child_process';
import { setTimeout as sleep } from 'node:timers/promises';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { StreamableHTTPClientTransport } from '@modelcontextprotocol/sdk/client/streamableHttp.js';

import { MCP_EXE, desktopEnv, stopDesktopUnlessKept } from './support.mjs';

const CALLS = Number(process.argv[2] ?? 20);
const PORT = 19000 + (process.pid % 1000);
const env = desktopEnv();
const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];

async function measure(name, client) {
  await client.callTool({ name: 'check_permissions', arguments: {} });
  const times = [];
  const started = process.hrtime.bigint();
  for (let i = 0; i < CALLS; i++) {
    const t = process.hrtime.bigint();
    const result = await client.callTool({ name: 'check_permissions', arguments: {} });
    if (result.isError) throw new Error(JSON.stringify(result));
    times.push(Number(process.hrtime.bigint() - t) / 1e6);
  }
  const seconds = Number(process.hrtime.bigint() - started) / 1e9;
  console.log(`${name.padEnd(6)} ${(CALLS / seconds).toFixed(1)} calls/s, median ${median(times).toFixed(1)} ms, ` +
    `max ${Math.max(...times).toFixed(1)} ms`);
}

// The Wine process serving --http: its resident set in KiB.
function rssKiB(marker) {
  const pids = execFileSync('pgrep', ['-f', '--', marker]).toString().trim().split('\n');
  return Math.max(...pids.map((pid) => Number(execFileSync('ps', ['-o', 'rss=', '-p', pid]).toString())));
}

const stdio = new Client({ name: 'bench', version: '1.0.0' });
await stdio.connect(new StdioClientTransport({ command: 'wine', args: [MCP_EXE], env, stderr: 'ignore' }));
await measure('stdio', stdio);
await stdio.close();

const server = spawn('wine', [MCP_EXE, '--http', `127.0.0.1:${PORT}`], { env, stdio: 'ignore' });
await sleep(3000);
const url = new URL(`http://127.0.0.1:${PORT}/mcp`);
const http = new Client({ name: 'bench', version: '1.0.0' });
await http.connect(new StreamableHTTPClientTransport(url));
await measure('http', http);
const marker = `--http 127.0.0.1:${PORT}`;
const before = rssKiB(marker);
const idle = [];
for (let i = 0; i < 50; i++) {
  const client = new Client({ name: `idle-${i}`, version: '1.0.0' });
  await client.connect(new StreamableHTTPClientTransport(url));
  idle.push(client);
}
await sleep(1000);
const after = rssKiB(marker);
console.log(`memory: ${before} KiB with one session, ${after} KiB with 50 more idle ` +
  `(${((after - before) / 50).toFixed(0)} KiB each)`);
for (const client of [http, ...idle]) await client.close();
server.kill('SIGKILL');
stopDesktopUnlessKept();
