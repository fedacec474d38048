// The unpacked release archive (ZELTO_ARCHIVE_DIR, inside the test prefix's
// drive C, made by scripts/check-archive.sh): its contents, the DLLs its programs
// import, and both programs run from there, not from the build folder. Then the
// unpacked MCP Bundle (ZELTO_BUNDLE_DIR): the same files plus its manifest, and
// the server started as the manifest says.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { readFileSync, readdirSync } from 'node:fs';
import path from 'node:path';
import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

import { PROJECT_VERSION, ROOT, desktopEnv, stopDesktopUnlessKept } from './support.mjs';

const DIR = process.env.ZELTO_ARCHIVE_DIR;
const BUNDLE = process.env.ZELTO_BUNDLE_DIR;
const PERMISSIONS = { accessibility: true, screen_recording: true };
// Windows' own DLLs, present on every supported system; anything else (the
// MinGW runtime, libpng, ICU, ...) must be linked into the executables.
const SYSTEM_DLLS = ['advapi32.dll', 'gdi32.dll', 'imm32.dll', 'kernel32.dll', 'msvcrt.dll',
  'ole32.dll', 'oleacc.dll', 'oleaut32.dll', 'shcore.dll', 'shell32.dll', 'user32.dll', 'ws2_32.dll'];

let env;
let windowsDir;

// A folder of drive C as Windows names it.
function onDriveC(dir) {
  const drive = path.join(env.WINEPREFIX, 'drive_c');
  const inside = path.relative(drive, dir);
  assert.ok(!inside.startsWith('..') && !path.isAbsolute(inside), `${dir} is not on drive C`);
  return 'C:\\' + inside.replaceAll('/', '\\');
}

before(() => {
  assert.ok(DIR && BUNDLE, 'run through scripts/check-archive.sh');
  env = desktopEnv();
  windowsDir = onDriveC(DIR);
  // The server must find the executor beside itself.
  delete env.ZELTO_CUA_MCP_EXECUTOR;
});

after(() => stopDesktopUnlessKept());

function filesUnder(dir, prefix = '') {
  return readdirSync(dir, { withFileTypes: true }).flatMap((entry) => entry.isDirectory()
    ? filesUnder(path.join(dir, entry.name), `${prefix}${entry.name}/`)
    : [`${prefix}${entry.name}`]);
}

function run(program, args, input = '') {
  return spawnSync('wine', [`${windowsDir}\\${program}`, ...args],
    { cwd: DIR, env, input, encoding: 'utf8', timeout: 60_000 });
}

test('the archive holds the programs, the README, the licences and the schemas, nothing else', () => {
  const schemas = readdirSync(path.join(ROOT, 'docs', 'protocol')).map((f) => `docs/protocol/${f}`);
  const documents = ['LICENSE', 'README.md', 'THIRD-PARTY-NOTICES.txt'];
  assert.deepEqual(filesUnder(DIR).sort(),
    [...documents, 'zelto-cua-mcp.exe', 'zelto-cua.exe', ...schemas].sort());
  for (const file of [...documents, ...schemas]) {
    assert.ok(readFileSync(path.join(DIR, file)).equals(readFileSync(path.join(ROOT, file))), file);
  }
});

test('both programs import only system DLLs', () => {
  for (const program of ['zelto-cua.exe', 'zelto-cua-mcp.exe']) {
    const dump = execFileSync('x86_64-w64-mingw32-objdump', ['-p', path.join(DIR, program)],
      { maxBuffer: 256 << 20 }).toString();
    const imports = [...dump.matchAll(/DLL Name: (\S+)/g)].map((m) => m[1].toLowerCase());
    assert.ok(imports.includes('kernel32.dll'), `${program}: no import table read`);
    assert.deepEqual(imports.filter((dll) => !SYSTEM_DLLS.includes(dll)), [], program);
  }
});

test('zelto-cua.exe answers check_permissions from the unpacked folder', () => {
  const result = run('zelto-cua.exe', [], '{"action":"check_permissions"}');
  assert.equal(result.stdout, '{"data":{"accessibility":true,"screen_recording":true},"ok":true}\n');
  assert.equal(result.status, 0);
});

test('zelto-cua-mcp.exe --version prints the CMake version; another argument is refused', () => {
  const version = run('zelto-cua-mcp.exe', ['--version']);
  assert.deepEqual([version.stdout, version.status], [`zelto-cua-mcp ${PROJECT_VERSION}\n`, 0]);
  const refused = run('zelto-cua-mcp.exe', ['--verison']);
  assert.deepEqual([refused.stdout, refused.status], ['', 2]);
  assert.match(refused.stderr, /given: "--verison"/);
});

test('an MCP client calls check_permissions through the unpacked zelto-cua-mcp.exe', async () => {
  const client = new Client({ name: 'zelto-cua-archive-check', version: '1.0.0' });
  await client.connect(new StdioClientTransport({ command: 'wine',
    args: [`${windowsDir}\\zelto-cua-mcp.exe`], cwd: DIR, env, stderr: 'ignore' }));
  try {
    assert.equal(client.getServerVersion().version, PROJECT_VERSION);
    const result = await client.callTool({ name: 'check_permissions', arguments: {} });
    assert.ok(!result.isError, JSON.stringify(result));
    assert.deepEqual(JSON.parse(result.content[0].text), PERMISSIONS);
  } finally {
    await client.close();
  }
});

test('the bundle holds the archive\'s files and a manifest of this version and these tools', async () => {
  assert.deepEqual(filesUnder(BUNDLE).sort(), [...filesUnder(DIR), 'manifest.json'].sort());
  for (const file of filesUnder(DIR)) {
    assert.ok(readFileSync(path.join(BUNDLE, file)).equals(readFileSync(path.join(DIR, file))), file);
  }
  const manifest = JSON.parse(readFileSync(path.join(BUNDLE, 'manifest.json'), 'utf8'));
  assert.equal(manifest.version, PROJECT_VERSION);
  assert.equal(manifest.server.type, 'binary');
  assert.deepEqual(manifest.compatibility.platforms, ['win32']);
});

test('the server started as the bundle\'s manifest says lists the manifest\'s tools', async () => {
  const manifest = JSON.parse(readFileSync(path.join(BUNDLE, 'manifest.json'), 'utf8'));
  const config = manifest.server.mcp_config;
  // What the client substitutes: the bundle's folder and each setting's default.
  const substitute = (value) => value
    .replaceAll('${__dirname}', onDriveC(BUNDLE))
    .replace(/\$\{user_config\.(\w+)\}/g, (_, key) => String(manifest.user_config[key].default));
  const serverEnv = { ...env };
  for (const [name, value] of Object.entries(config.env)) serverEnv[name] = substitute(value);
  const client = new Client({ name: 'zelto-cua-bundle-check', version: '1.0.0' });
  let stderr = '';
  const transport = new StdioClientTransport({ command: 'wine',
    args: [substitute(config.command), ...config.args.map(substitute)], cwd: BUNDLE,
    env: serverEnv, stderr: 'pipe' });
  transport.stderr.on('data', (chunk) => { stderr += chunk; });
  await client.connect(transport);
  try {
    const { tools } = await client.listTools();
    assert.deepEqual(tools.map((tool) => ({ name: tool.name, description: tool.title })),
      manifest.tools);
    const result = await client.callTool({ name: 'check_permissions', arguments: {} });
    assert.deepEqual(JSON.parse(result.content[0].text), PERMISSIONS);
  } finally {
    await client.close();
  }
  // A setting the server could not read would have said so.
  assert.doesNotMatch(stderr, /\[CUA-mcp\]/);
});
