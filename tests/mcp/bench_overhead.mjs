// By hand, on the test desktop: the time of one tools/call "move" through
// zelto-cua-mcp.exe beside a plain run of zelto-cua.exe with the same request,
// medians of several runs. Not part of the test run.
//   node tests/mcp/bench_overhead.mjs [runs]
import { spawn } from 'node:child_process';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { EXE, MCP_EXE, desktopEnv, stopDesktopUnlessKept } from './support.mjs';

const RUNS = Number(process.argv[2] ?? 9);
const PARAMS = { position: [500, 500] };
const env = desktopEnv();

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];

// Until the result line arrives (never until the pipe's end: see the e2e harness).
function plainRun() {
  return new Promise((resolve, reject) => {
    const started = process.hrtime.bigint();
    const child = spawn('wine', [EXE], { env, stdio: ['pipe', 'pipe', 'ignore'] });
    child.stdout.on('data', (chunk) => {
      if (chunk.includes('\n')) resolve(Number(process.hrtime.bigint() - started) / 1e6);
    });
    child.on('error', reject);
    child.stdin.end(JSON.stringify({ action: 'move', params: PARAMS }) + '\n');
  });
}

const client = new Client({ name: 'bench', version: '1.0.0' });
await client.connect(new StdioClientTransport({ command: 'wine', args: [MCP_EXE], env, stderr: 'ignore' }));
async function mcpRun() {
  const started = process.hrtime.bigint();
  const result = await client.callTool({ name: 'move', arguments: PARAMS });
  if (result.isError) throw new Error(JSON.stringify(result));
  return Number(process.hrtime.bigint() - started) / 1e6;
}

// One warm-up of each, then the two interleaved, so a busy moment of the
// machine weighs on both alike.
await plainRun();
await mcpRun();
const plain = [];
const viaMcp = [];
for (let i = 0; i < RUNS; i++) {
  plain.push(await plainRun());
  viaMcp.push(await mcpRun());
}
await client.close();
stopDesktopUnlessKept();

const row = (name, values) =>
  `${name.padEnd(34)} median ${median(values).toFixed(1).padStart(7)} ms   runs ${values.map((v) => v.toFixed(0)).join(' ')}`;
console.log(row('zelto-cua.exe, one process', plain));
console.log(row('tools/call move via zelto-cua-mcp', viaMcp));
console.log(`server overhead (median difference)  ${(median(viaMcp) - median(plain)).toFixed(1)} ms`);
