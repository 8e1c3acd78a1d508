// The designer's module against su55if-host: the same files and options give
// the same bytes and exit code. Run by ctest (designer.module) with
// SU55IF_MODULE, the built module, and SU55IF_HOST, a native su55if-host;
// the comparisons with the host are skipped when it is not built.
'use strict';
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test, before, after } = require('node:test');

const root = path.resolve(__dirname, '../..');
const examples = path.join(root, 'examples');
const host = process.env.SU55IF_HOST;
const haveHost = Boolean(host) && fs.existsSync(host);
let su55if;

before(async () => {
  su55if = await require(process.env.SU55IF_MODULE)();
});

// A file as the page gives it: its bytes.
const file = (name, folder = examples) => ({ name, text: fs.readFileSync(path.join(folder, name)) });

// su55if-host's arguments as the module's call: the command, the cycle and
// the options in camelCase, files read from `folder`; no command, the
// built-in example as a table.
function call(args, folder = examples) {
  if (args.length === 0) return su55if.run(su55if.example(), { table: true }, null);
  const [command, cycle, ...rest] = args;
  const options = {};
  for (let k = 0; k < rest.length; ++k) {
    const name = rest[k].slice(2).replace(/-([a-z])/g, (_, c) => c.toUpperCase());
    if (['table', 'twin'].includes(name)) options[name] = true;
    else if (name === 'chart') { options.chart = true; ++k; }
    else if (['inputFile', 'events'].includes(name)) options[name] = file(rest[++k], folder);
    else options[name] = rest[++k];
  }
  const cycleFile = file(cycle, folder);
  return command === 'check' ? su55if.check(cycleFile, options) : su55if.run(cycleFile, options, null);
}

function runHost(args, folder = examples) {
  try {
    return { exitCode: 0, stdout: execFileSync(host, ['-q', ...args], { cwd: folder, encoding: 'utf8', stdio: 'pipe', maxBuffer: 1 << 30 }), stderr: '' };
  } catch (error) {
    if (error.status === null) throw error;
    return { exitCode: error.status, stdout: error.stdout, stderr: error.stderr };
  }
}

// The command-line golden cases (tests/cli/*.case) give their files' bytes.
const caseFolder = path.join(root, 'tests/cli');
for (const name of fs.readdirSync(caseFolder).filter((n) => n.endsWith('.case'))) {
  const expected = { exitCode: 0, stdout: '', stderr: '' };
  const commands = [];
  let written = false;
  for (const line of fs.readFileSync(path.join(caseFolder, name), 'utf8').split('\n')) {
    const [, key, value] = line.match(/^(\w+):\s*(.*)$/) || [];
    if (key === 'args') commands.push(value.split(/\s+/).filter((a) => a !== '-q'));
    else if (key === 'exit') expected.exitCode = Number(value);
    else if (key === 'stdout' || key === 'stderr') expected[key] = fs.readFileSync(path.join(root, value), 'utf8');
    else if (key === 'written') written = true;
  }
  // The cases of one check or run with files of its own folder; not those
  // about the command line itself (help, commands, output files, several
  // commands).
  const args = commands[0] || [];
  const commandLineOnly = commands.length !== 1 || written || (args.length > 0 && !['check', 'run'].includes(args[0])) ||
    args.some((a) => ['--help', '-h', '--output-file', '-o', '--library', '--log-calls', '--version'].includes(a));
  test(`golden case ${name}`, { skip: commandLineOnly && 'about the command line' }, () => {
    const result = call(args);
    assert.deepEqual({ exitCode: result.exitCode, stdout: result.stdout, stderr: result.stderr }, expected);
  });
}

// Files that fault, each in its own way, and a 100-stage cycle.
const made = fs.mkdtempSync(path.join(os.tmpdir(), 'su55if-module-'));
after(() => fs.rmSync(made, { recursive: true, force: true }));
const hundred = ['stage,duration,partner,name'];
for (let k = 1; k <= 100; ++k) hundred.push(`${k},${k % 2 ? k : k - 1},${k % 2 ? k + 1 : -(k - 1)},stage ${k}`);
const madeFiles = {
  'hundred.csv': hundred.join('\n') + '\n',
  'hostile.csv': 'stage,duration,partner,name\n1,10,2,"<img src=x onerror=alert(1)>"\n2,12,0,\x1b[31mred\n',
  'bad-number.csv': 'stage,duration\n1,10\n2,ten\n',
  'semicolons.csv': 'stage;duration\n1;10\n',
  'bad-events.csv': 'time,stage,duration\n5,9,10\n',
  'back-inputs.csv': 'time,hold\n5,0\n4,1\n',
  'zero.csv': 'stage,duration\n1,0\n',
  'windows-1252.csv': Buffer.from('# Spülung\nstage,duration,partner,name\n1,10,0,Ä\n', 'latin1'),
};
for (const [name, text] of Object.entries(madeFiles)) fs.writeFileSync(path.join(made, name), text);
for (const name of ['four-stage.csv', 'negative-links.csv', 'faulty.csv', 'what-if.csv', 'what-if-inputs.csv', 'what-if-events.csv']) {
  fs.copyFileSync(path.join(examples, name), path.join(made, name));
}

const whatIf = ['what-if.csv', '--input-file', 'what-if-inputs.csv', '--events', 'what-if-events.csv', '--stop-time', '400', '--output-interval', '2.5'];
const comparisons = [
  ...['four-stage.csv', 'negative-links.csv', 'faulty.csv', 'what-if.csv', 'hundred.csv', 'hostile.csv'].flatMap((cycle) => [
    ['check', cycle], ['check', cycle, '--format', 'json'], ['check', cycle, '--twin'],
    ['run', cycle], ['run', cycle, '--format', 'json'], ['run', cycle, '--table', '--time-unit', 's'],
  ]),
  ['run', ...whatIf], ['run', ...whatIf, '--format', 'json'], ['run', ...whatIf, '--twin'],
  ['run', 'four-stage.csv', '--stop-time', '1e5', '--output-interval', '0.5'],
  ['run', 'four-stage.csv', '--stop-time', '0'], ['run', 'four-stage.csv', '--output-interval', '1e-400'],
  ['run', 'four-stage.csv', '--table', '--format', 'json'], ['run', 'what-if.csv', '--events', 'what-if-events.csv', '--cycles', '4'],
  ['run', 'four-stage.csv', '--cycles', '2', '--stop-time', '5'], ['run', 'four-stage.csv', '--format', 'csv'],
  ['check', 'bad-number.csv'], ['check', 'semicolons.csv'], ['check', 'semicolons.csv', '--format', 'json'],
  ['check', 'windows-1252.csv', '--format', 'json'], ['run', 'zero.csv'],
  ['run', 'four-stage.csv', '--events', 'bad-events.csv'], ['run', 'four-stage.csv', '--input-file', 'back-inputs.csv'],
];
for (const args of comparisons) {
  test(`as su55if-host -q ${args.join(' ')}`, { skip: !haveHost && 'no native su55if-host (SU55IF_HOST)' }, () => {
    const { diagnostics, ...result } = call(args, made);
    assert.deepEqual(result, { ...runHost(args, made), chart: null });
    // The records are the host's with --messages json.
    const records = runHost(['--messages', 'json', ...args], made).stderr.split('\n').filter((line) => line.startsWith('{'));
    assert.deepEqual(diagnostics, records.map((line) => JSON.parse(line)));
  });
}

test('the chart is the host\'s SVG, and none when the run fails', { skip: !haveHost && 'no native su55if-host (SU55IF_HOST)' }, () => {
  for (const window of [[], ['--chart-from', '100', '--chart-to', '250']]) {
    const args = ['run', ...whatIf, '--chart', 'chart.svg', ...window];
    const expected = runHost(args, made);
    const result = call(args, made);
    assert.equal(result.exitCode, expected.exitCode);
    assert.equal(result.chart, fs.readFileSync(path.join(made, 'chart.svg'), 'utf8'));
  }
  assert.equal(call(['run', 'faulty.csv', '--chart', 'x.svg'], made).chart, null);
});

test('the beds\' grid is the host\'s SVG, a link that does not fit included', { skip: !haveHost && 'no native su55if-host (SU55IF_HOST)' }, () => {
  for (const args of [['check', 'four-bed.csv', '--beds', '4'], ['check', 'three-bed-misfit.csv', '--beds', '3'],
    ['run', 'two-bed.csv', '--beds', '2']]) {
    const expected = runHost([...args, '--chart', path.join(made, 'beds.svg')]);
    const result = call([...args, '--chart', 'x.svg']);
    assert.equal(result.exitCode, expected.exitCode, args.join(' '));
    assert.equal(result.chart, fs.readFileSync(path.join(made, 'beds.svg'), 'utf8'), args.join(' '));
  }
});

test('the gallery: each example as in examples/, its comment as prose, the beds it is meant for', () => {
  const gallery = su55if.examples();
  assert.deepEqual(gallery.map((e) => [e.name, e.beds]), [['two-bed.csv', 2], ['two-bed-equalisation.csv', 2],
    ['four-bed.csv', 4], ['three-bed-misfit.csv', 3], ['four-stage.csv', undefined]]);
  for (const example of gallery) {
    assert.equal(example.text, file(example.name).text.toString());
    assert.doesNotMatch(example.description, /su55if-host|--|#|\n|:$/, example.name);
  }
  assert.match(gallery[2].description, /^A four-bed cycle .* \(5 and 8\)\. Check it as four beds\.$/);
  assert.equal(gallery[2].timeUnit, 's');
});

test('options the host would not take are refused with exit code 2', () => {
  const cycle = file('four-stage.csv');
  for (const [command, options, message] of [
    ['check', { stopTime: 10 }, 'unknown option "stopTime" for check'],
    ['run', { format: 'xml' }, '--format xml: run writes csv (also called text), json or binary'],
    ['run', { twin: 'yes' }, 'twin must be true or false'],
    ['run', { chartTo: 5 }, 'chartTo says what the chart shows: give chart: true too'],
    ['run', { stopTime: 'ten' }, '--stop-time "ten" is not a number'],
    ['run', { outputInterval: -1 }, '--output-interval must be a finite number greater than 0'],
    ['check', { chart: true }, 'check chart: true draws the beds: give beds: N too'],
    ['run', { beds: 4 }, 'run beds draws the beds on the chart: give chart: true too'],
  ]) {
    const result = command === 'check' ? su55if.check(cycle, options) : su55if.run(cycle, options, null);
    assert.equal(result.exitCode, 2);
    assert.equal(result.stdout, '');
    assert.match(result.stderr, new RegExp(`^su55if-host: ${message.replace(/[.*+?()]/g, '\\$&')}`));
  }
});

test('a bare text is a file named cycle.csv; bytes that are not UTF-8 are read as Windows-1252', () => {
  assert.match(su55if.check('stage,duration\n1,x\n', {}).stderr, /^su55if-host: cycle\.csv:2:3: /);
  const bytes = new TextEncoder().encode('stage,duration,partner,name\n1,10,0,caf\xe9\n');
  bytes[bytes.length - 3] = 0xff;  // not UTF-8
  assert.match(su55if.check({ name: 'b.csv', text: bytes }, {}).stdout,
    /^Note: b\.csv:2: the file is not UTF-8: read as Windows-1252 from this line on\.$[^]*caf\u00ff\u00a9/m);
});

test('progress is reported on a long run, its end where the durations in force place it', () => {
  // An event at time 0 makes stages 1 and 3 last 5e4: two cycles end at 200120.
  const events = { name: 'events.csv', text: 'time,stage,duration\n0,1,5e4\n' };
  for (const [options, end] of [[{ stopTime: 2e5 }, 2e5], [{ cycles: 2, events }, 200120]]) {
    const seen = [];
    const result = su55if.run(file('four-stage.csv'), { ...options, outputInterval: 0.5 }, (time, stop) => seen.push([time, stop]));
    assert.equal(result.exitCode, 0);
    assert.ok(seen.length > 0 && seen.every(([time, stop]) => stop === end && time > 0 && time <= stop), JSON.stringify(seen));
  }
});

test('a wrong file, a call from a run\'s progress, or a progress function that throws: exit-2 results, the module usable', () => {
  const cycle = file('four-stage.csv');
  const options = { stopTime: 2e5, outputInterval: 0.5 };
  const plain = su55if.run(cycle, options, null);
  for (const result of [su55if.check(null, {}), su55if.run(null, {}, null), su55if.run(cycle, {}, 5)]) {
    assert.equal(result.exitCode, 2);
    assert.match(result.stderr, /^su55if-host: (cycle\.csv: a file is|the progress function)/);
  }
  let inner = null;
  const outer = su55if.run(cycle, options, () => { inner = inner || su55if.check({ name: 'one.csv', text: 'stage,duration\n1,1\n' }, {}); });
  assert.deepEqual(outer, plain);
  assert.equal(inner.exitCode, 2);
  assert.match(inner.stderr, /^su55if-host: busy: /);
  assert.throws(() => su55if.run(cycle, options, () => { throw new Error('mine'); }), /mine/);
  assert.deepEqual(su55if.run(cycle, options, null), plain);
});

test('an output past what the module holds is exit 2, naming its size, and the module goes on', async () => {
  // This build's outputs hold 64 kB.
  const small = await require(process.env.SU55IF_SMALL_MODULE)();
  const cycle = file('four-stage.csv');
  for (const options of [{ format: 'json' }, { format: 'csv' }, { chart: true }]) {
    const result = small.run(cycle, { stopTime: 1e6, outputInterval: 0.01, ...options }, null);
    assert.equal(result.exitCode, 2);
    assert.equal(result.stdout, '');
    assert.equal(result.chart, null);
    assert.equal(result.outputFull.output, 'stdout');
    assert.ok(result.outputFull.bytes > 60000 && result.outputFull.bytes <= 65536);
    assert.match(result.stderr, /^su55if-host: the timeline reached 0\.06\d* MB, the most the module holds in memory: give a longer --output-interval/);
    assert.deepEqual(small.run(cycle, {}, null), su55if.run(cycle, {}, null));
  }
});

test('a cycle\'s stages as typed, faults and all; none from a text without a header', () => {
  assert.deepEqual(su55if.stages({ name: 'address', text: 'stage,duration,partner,name\n1,ten,0,a\n3,10,x,b,c\n4\n' }), {
    stages: [{ name: 'a', duration: 'ten', partner: '0' }, { name: 'b,c', duration: '10', partner: 'x' },
      { name: '', duration: '', partner: '0' }],
  });
  assert.deepEqual(su55if.stages({ name: 'address', text: 'stage;duration\n1;10\n' }).stages, null);
  assert.match(su55if.stages('').message, /^cycle\.csv:1: the file is empty/);
  assert.equal(su55if.stageLimit(), 100);
});
