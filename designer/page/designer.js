// The cycle designer's page. Every verdict, message, number and picture
// comes from the engine in the worker (window.su55if); the page only lays
// the stage table out as the host's cycle CSV and shows what comes back.
// Text from a file, a paste or the address is only ever set as text
// (textContent, value), never as markup.
'use strict';

// window.su55if: check and run in workers started from the bundled source.
(function () {
  const url = URL.createObjectURL(new Blob([self.su55ifWorkerSource], { type: 'text/javascript' }));
  let nextId = 0;
  function client() {
    const worker = new Worker(url);
    const pending = new Map();
    worker.onmessage = (event) => {
      const call = pending.get(event.data.id);
      if (!call) return;
      if (event.data.progress) {
        if (call.onProgress) call.onProgress(...event.data.progress);
        return;
      }
      pending.delete(event.data.id);
      call.resolve(event.data.result);
    };
    worker.onerror = (event) => {
      for (const call of pending.values()) call.reject(new Error(event.message));
      pending.clear();
    };
    return {
      call(command, cycle, options, onProgress) {
        const id = ++nextId;
        return new Promise((resolve, reject) => {
          pending.set(id, { resolve, reject, onProgress });
          worker.postMessage({ id, command, cycle, options });
        });
      },
      stop() {
        worker.terminate();
        for (const call of pending.values()) call.reject(new Error('cancelled'));
        pending.clear();
      },
    };
  }
  const checker = client();
  let runner = null;
  window.su55if = {
    ready: checker.call('example').then(() => undefined),
    example: () => checker.call('example').then((result) => result.example),
    check: (cycle, options = {}) => checker.call('check', cycle, options),
    // A run in a worker of its own, so that cancel() stops it and nothing else.
    run: (cycle, options = {}, onProgress = null) => {
      runner = runner || client();
      return runner.call('run', cycle, options, onProgress);
    },
    cancel: () => {
      if (runner) runner.stop();
      runner = null;
    },
  };
})();

const $ = (id) => document.getElementById(id);
let rows = [];  // {name, duration, partner} as typed
let cycleName = 'cycle.csv';

function csvField(text) {
  return /[",\r\n]|^\s|\s$|^#/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
}

// The table as the host's cycle file.
function cycleText() {
  const lines = ['stage,duration,partner,name'];
  rows.forEach((row, k) => lines.push([k + 1, row.duration, row.partner, csvField(row.name)].join(',')));
  return lines.join('\n') + '\n';
}

function cell(row, key, label) {
  const td = document.createElement('td');
  const input = document.createElement('input');
  input.value = row[key];
  input.setAttribute('aria-label', label);
  input.addEventListener('input', () => {
    row[key] = input.value;
    changed();
  });
  td.append(input);
  return td;
}

function button(text, label, action) {
  const b = document.createElement('button');
  b.type = 'button';
  b.textContent = text;
  b.setAttribute('aria-label', label);
  b.addEventListener('click', action);
  return b;
}

function renderTable() {
  const body = $('stages').tBodies[0];
  body.replaceChildren();
  rows.forEach((row, k) => {
    const tr = document.createElement('tr');
    const number = document.createElement('td');
    number.className = 'number';
    number.textContent = String(k + 1);
    const tools = document.createElement('td');
    tools.append(
      button('↑', `move stage ${k + 1} up`, () => { if (k > 0) { rows.splice(k - 1, 0, rows.splice(k, 1)[0]); renderTable(); changed(); } }),
      button('+', `insert a stage before stage ${k + 1}`, () => { rows.splice(k, 0, { name: '', duration: '10', partner: '0' }); renderTable(); changed(); }),
      button('×', `delete stage ${k + 1}`, () => { rows.splice(k, 1); renderTable(); changed(); }));
    tr.append(number, cell(row, 'name', `name of stage ${k + 1}`), cell(row, 'duration', `duration of stage ${k + 1}`),
      cell(row, 'partner', `partner of stage ${k + 1}`), tools);
    body.append(tr);
  });
}

// Rows from the engine's reading of a cycle file (check --format json).
function rowsOf(report) {
  return report.stages.map((s) => ({ name: s.name, duration: String(s.duration), partner: String(s.partner) }));
}

let checking = 0;
async function changed() {
  const text = cycleText();
  history.replaceState(null, '', '#' + encodeURIComponent(text));
  const mine = ++checking;
  const cycle = { name: cycleName, text };
  const [json, report] = await Promise.all([su55if.check(cycle, { format: 'json' }), su55if.check(cycle)]);
  if (mine !== checking) return;  // a later edit's check will show
  showCheck(json, report);
}

function showCheck(json, report) {
  const verdict = $('verdict');
  $('report').textContent = report.stdout;
  if (json.exitCode === 2 && json.stdout === '') {
    verdict.className = 'error';
    verdict.textContent = 'The cycle file has a fault.';
    $('messages').textContent = json.stderr;
    return;
  }
  const result = JSON.parse(json.stdout);
  verdict.className = result.verdict;
  verdict.textContent = result.verdict === 'accepted'
    ? (result.runnable ? 'The library accepts the cycle.' : 'The library accepts the cycle, but it cannot be run.')
    : `The library rejected the cycle (status ${result.status}).`;
  $('messages').textContent = [...result.records, ...result.explanation].join('\n') + (json.stderr ? '\n' + json.stderr : '');
}

// A cycle file's text into the table, through the engine's reading of it;
// a file with a fault leaves the table as it was, with the engine's message.
async function load(name, text) {
  const json = await su55if.check({ name, text }, { format: 'json' });
  if (json.stdout === '') {
    $('verdict').className = 'error';
    $('verdict').textContent = `${name} was not opened: it has a fault.`;
    $('messages').textContent = json.stderr;
    return false;
  }
  cycleName = name;
  rows = rowsOf(JSON.parse(json.stdout));
  renderTable();
  await changed();
  return true;
}

let lastDownloads = [];
async function run() {
  const options = { chart: true };
  if ($('stop-time').value.trim()) options.stopTime = $('stop-time').value.trim();
  if ($('output-interval').value.trim()) options.outputInterval = $('output-interval').value.trim();
  $('run').disabled = true;
  $('cancel').disabled = false;
  $('progress').value = 0;
  $('run-messages').textContent = 'Running…';
  try {
    const result = await su55if.run({ name: cycleName, text: cycleText() }, options,
      (time, stopTime) => { $('progress').value = time / stopTime; });
    $('progress').value = result.exitCode === 0 ? 1 : 0;
    $('run-messages').textContent = result.stderr || (result.exitCode === 0 ? 'Done.' : '');
    lastDownloads.forEach((u) => URL.revokeObjectURL(u));
    lastDownloads = [];
    const csv = $('download-csv');
    const svg = $('download-svg');
    csv.hidden = svg.hidden = $('chart').hidden = result.exitCode !== 0;
    if (result.exitCode === 0) {
      csv.href = URL.createObjectURL(new Blob([result.stdout], { type: 'text/csv' }));
      svg.href = $('chart').src = URL.createObjectURL(new Blob([result.chart], { type: 'image/svg+xml' }));
      lastDownloads = [csv.href, svg.href];
    }
  } catch (error) {
    $('run-messages').textContent = error.message === 'cancelled' ? 'Cancelled.' : String(error);
  } finally {
    $('run').disabled = false;
    $('cancel').disabled = true;
  }
}

function save() {
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob([cycleText()], { type: 'text/csv' }));
  a.download = cycleName;
  a.click();
  setTimeout(() => URL.revokeObjectURL(a.href), 0);
}

async function start() {
  $('add').addEventListener('click', () => { rows.push({ name: '', duration: '10', partner: '0' }); renderTable(); changed(); });
  $('example').addEventListener('click', async () => { const e = await su55if.example(); load(e.name, e.text); });
  $('open').addEventListener('change', async (event) => {
    const file = event.target.files[0];
    if (file) await load(file.name, new Uint8Array(await file.arrayBuffer()));
    event.target.value = '';
  });
  $('save').addEventListener('click', save);
  $('run').addEventListener('click', run);
  $('cancel').addEventListener('click', () => su55if.cancel());
  // A link followed while the page is open.
  window.addEventListener('hashchange', () => {
    if (location.hash.length > 1 && decodeURIComponent(location.hash.slice(1)) !== cycleText()) {
      load(cycleName, decodeURIComponent(location.hash.slice(1)));
    }
  });
  await su55if.ready;
  if (location.hash.length > 1) {
    let text = '';
    try { text = decodeURIComponent(location.hash.slice(1)); } catch { text = location.hash.slice(1); }
    if (await load(cycleName, text)) return;
  }
  const example = await su55if.example();
  await load(example.name, example.text);
  document.body.dataset.ready = 'true';
}
start().finally(() => { document.body.dataset.ready = 'true'; });
