// Shared by the tests here: where the build is, the headless desktop's
// environment, and a PNG reader for the screenshot's image item.
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import zlib from 'node:zlib';

export const ROOT = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
export const BUILD = process.env.ZELTO_E2E_BUILD ?? path.join(ROOT, 'build', 'windows-cross');
export const MCP_EXE = path.join(BUILD, 'zelto-cua-mcp.exe');
export const EXE = path.join(BUILD, 'zelto-cua.exe');
export const PROBE = path.join(BUILD, 'tests', 'e2e', 'zelto-probe.exe');

// The one version of the project, as CMake's project() declares it.
export const PROJECT_VERSION =
  readFileSync(path.join(ROOT, 'CMakeLists.txt'), 'utf8').match(/^project\(\w+ VERSION (\S+)/m)[1];

export const windowsPath = (file) => 'Z:' + file.replaceAll('/', '\\');

let desktop;

// Starts the desktop when it is not up (scripts/desktop.sh is idempotent) and
// returns the environment every Wine program of the tests runs with.
export function desktopEnv() {
  if (!desktop) {
    const env = {
      ...process.env,
      ZELTO_WINEPREFIX: process.env.ZELTO_WINEPREFIX ?? path.join(BUILD, 'wineprefix'),
      ZELTO_TOOLS_DIR: process.env.ZELTO_TOOLS_DIR ?? path.join(BUILD, 'tests', 'e2e', 'tools'),
    };
    const dump = execFileSync(
      'bash', ['-c', 'eval "$(bash scripts/desktop.sh start)" && env -0'],
      { cwd: ROOT, env, stdio: ['ignore', 'pipe', 'inherit'], timeout: 300_000 });
    desktop = Object.fromEntries(dump.toString('utf8').split('\0').filter(Boolean)
      .map((entry) => [entry.slice(0, entry.indexOf('=')), entry.slice(entry.indexOf('=') + 1)]));
  }
  return { ...desktop };
}

export function stopDesktopUnlessKept() {
  if (desktop && process.env.ZELTO_E2E_KEEP_DESKTOP !== '1') {
    execFileSync('bash', ['scripts/desktop.sh', 'stop'], { cwd: ROOT, env: desktop, stdio: 'ignore' });
  }
}

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Decodes an 8-bit RGBA PNG: { width, height, pixel(x, y) -> [r, g, b, a] }.
export function readPng(bytes) {
  const signature = Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]);
  if (!bytes.subarray(0, 8).equals(signature)) throw new Error('not a PNG');
  let offset = 8, width = 0, height = 0;
  const idat = [];
  while (offset < bytes.length) {
    const length = bytes.readUInt32BE(offset);
    const type = bytes.toString('latin1', offset + 4, offset + 8);
    const body = bytes.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[9] !== 6) throw new Error('not 8-bit RGBA');
    } else if (type === 'IDAT') {
      idat.push(body);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * 4;
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    const out = pixels.subarray(y * stride, (y + 1) * stride);
    const up = y > 0 ? pixels.subarray((y - 1) * stride, y * stride) : Buffer.alloc(stride);
    for (let i = 0; i < stride; i++) {
      const a = i >= 4 ? out[i - 4] : 0, b = up[i], c = i >= 4 ? up[i - 4] : 0;
      const predictor = [0, a, b, (a + b) >> 1, paeth(a, b, c)][filter];
      if (predictor === undefined) throw new Error(`bad filter ${filter}`);
      out[i] = (line[i] + predictor) & 0xff;
    }
  }
  return {
    width, height,
    pixel: (x, y) => [...pixels.subarray((y * width + x) * 4, (y * width + x) * 4 + 4)],
  };
}

export const readJsonLines = (file) =>
  readFileSync(file, 'utf8').split('\n').filter((line) => line.trim()).map((line) => JSON.parse(line));
