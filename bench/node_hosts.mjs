// The Node hosts bench_compiler measures beside the library: the official
// embedded host (npm sass-embedded, its compiler kept from initCompiler()) and
// pure-JS Sass (npm sass), both through compileString with the text named as
// a file of its folder, so relative loads resolve there as the library's do.
//
//   node node_hosts.mjs MODULES                 requests on stdin, one a line
//   node node_hosts.mjs MODULES HOST STYLE FILE one conversion, then exit
//
// MODULES is the node_modules folder holding both packages (the bench cache).
// A request is "HOST STYLE RUNS FILE": HOST embedded or js, STYLE expanded or
// compressed; FILE's text is trimmed as the program trims its editor text and
// converted RUNS times in its own folder. Each answer is one line of JSON:
// {"ms":[...], "bytes":N, "warnings":N} or {"error":"..."}. The time is the
// compileString call alone, measured in this process.
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join, resolve } from 'node:path';
import { performance } from 'node:perf_hooks';
import { createInterface } from 'node:readline';
import { pathToFileURL } from 'node:url';

const [modules, ...once] = process.argv.slice(2);
if (!modules) {
  process.stderr.write('usage: node node_hosts.mjs MODULES [HOST STYLE FILE]\n');
  process.exit(2);
}
const require = createRequire(join(resolve(modules), 'bench.js'));
let embedded = null;
let js = null;

function host(name) {
  if (name === 'embedded') {
    embedded ??= require('sass-embedded').initCompiler();
    return embedded;
  }
  if (name === 'js') {
    js ??= require('sass');
    return js;
  }
  throw new Error(`unknown host ${name}`);
}

function convert(name, style, file, runs) {
  const compiler = host(name);
  const text = readFileSync(file, 'utf8').replace(/^[ \t\r\n]+|[ \t\r\n]+$/g, '');
  const folder = dirname(file);
  const ms = [];
  let bytes = 0;
  let warnings = 0;
  for (let r = 0; r < runs; ++r) {
    warnings = 0;
    const logger = { warn: () => { ++warnings; }, debug: () => { ++warnings; } };
    const start = performance.now();
    const result = compiler.compileString(text, {
      url: pathToFileURL(join(folder, 'stdin')),
      style,
      logger,
    });
    ms.push(performance.now() - start);
    bytes = Buffer.byteLength(result.css);
  }
  return { ms, bytes, warnings };
}

function answer(line) {
  const [name, style, runs, ...path] = line.trim().split(' ');
  try {
    return JSON.stringify(convert(name, style, path.join(' '), Number(runs)));
  } catch (e) {
    return JSON.stringify({ error: String(e.message ?? e).split('\n')[0] });
  }
}

if (once.length === 3) {
  process.stdout.write(answer(`${once[0]} ${once[1]} 1 ${once[2]}`) + '\n');
  embedded?.dispose();
  process.exit(0);
}
const lines = createInterface({ input: process.stdin });
lines.on('line', (line) => process.stdout.write(answer(line) + '\n'));
lines.on('close', () => embedded?.dispose());
