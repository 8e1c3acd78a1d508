// The designer's stage table: the rows as typed (every text kept as it is,
// right or wrong: the engine judges it), with undo and redo, paste of rows
// from a spreadsheet, the keyboard, and notes shown under the rows and
// cells the engine names. Texts are only ever set as text, never as markup.
'use strict';

const stageTable = (() => {
  const keys = ['name', 'duration', 'partner'];
  const labels = { name: 'name', duration: 'duration', partner: 'partner' };
  const body = document.querySelector('#stages tbody');
  // A new row, after the row `above` (none for the first): its duration.
  const blank = (above) => ({ name: '', duration: above ? above.duration : '10', partner: '0' });
  let rows = [];
  const undone = [];
  const redone = [];
  let typing = null;  // the cell being typed in: its keystrokes are one undo step
  // limit: the most stages the table holds (a cycle's most); onCut(count,
  // limit) is told of rows a change left out past it.
  const table = { onChange: () => {}, onCut: () => {}, limit: Infinity };

  const copy = (list) => list.map((row) => ({ ...row }));
  function remember(cell = null) {
    if (cell && typing && cell.row === typing.row && cell.key === typing.key) return;
    undone.push(copy(rows));
    if (undone.length > 500) undone.shift();
    redone.length = 0;
    typing = cell;
  }

  // The focused cell, to find again once the table is drawn anew.
  function focused() {
    const e = document.activeElement;
    return e && e.dataset && e.dataset.row !== undefined ? { row: Number(e.dataset.row), key: e.dataset.key } : null;
  }
  function focus(cell) {
    if (!cell || rows.length === 0) return;
    const row = Math.max(0, Math.min(cell.row, rows.length - 1));
    const input = body.querySelector(`input[data-row="${row}"][data-key="${cell.key}"]`);
    if (input) input.focus();
  }

  // A change of the table's rows, one undo step; rows past the limit left
  // out.
  function change(action, then = focused()) {
    remember();
    action();
    const cut = Math.max(0, rows.length - table.limit);
    rows.length -= cut;
    typing = null;
    render();
    focus(then);
    const done = table.onChange();
    if (cut > 0) table.onCut(cut, table.limit);
    return done;
  }

  function button(text, label, action) {
    const b = document.createElement('button');
    b.type = 'button';
    b.textContent = text;
    b.title = label;
    b.setAttribute('aria-label', label);
    b.addEventListener('click', action);
    return b;
  }

  function move(k, to) {
    if (to < 0 || to >= rows.length) return;
    change(() => rows.splice(to, 0, rows.splice(k, 1)[0]), { row: to, key: (focused() || { key: 'name' }).key });
  }

  // Tab-separated rows from a spreadsheet, from the cell pasted into on:
  // the cells fill name, duration and partner to the right; any more cells
  // go into the last column as they are, so that nothing pasted is lost and
  // the engine names that row's fault.
  function paste(k, key, text) {
    const lines = text.replace(/\r\n?/g, '\n').replace(/\n$/, '').split('\n');
    const first = keys.indexOf(key);
    change(() => lines.forEach((line, i) => {
      while (rows.length <= k + i) rows.push(blank(rows[rows.length - 1]));
      const cells = line.split('\t');
      const room = keys.length - first;
      if (cells.length > room) cells.splice(room - 1, cells.length, cells.slice(room - 1).join('\t'));
      cells.forEach((value, j) => { rows[k + i][keys[first + j]] = value; });
    }));
  }

  function keydown(event, k, key) {
    const to = (row) => { event.preventDefault(); focus({ row, key }); };
    if (event.altKey && event.key === 'ArrowUp') { event.preventDefault(); move(k, k - 1); } else if (event.altKey && event.key === 'ArrowDown') { event.preventDefault(); move(k, k + 1); } else if (event.key === 'ArrowUp') to(k - 1);
    else if (event.key === 'ArrowDown') to(k + 1);
    else if (event.key === 'Enter') {
      event.preventDefault();
      if (k === rows.length - 1) change(() => rows.push(blank(rows[k])), { row: k + 1, key });
      else focus({ row: k + 1, key });
    }
  }

  function cell(row, k, key) {
    const td = document.createElement('td');
    const input = document.createElement('input');
    input.value = row[key];
    input.dataset.row = String(k);
    input.dataset.key = key;
    input.setAttribute('aria-label', `${labels[key]} of stage ${k + 1}`);
    if (key !== 'name') input.inputMode = 'decimal';
    input.addEventListener('input', () => {
      remember({ row: k, key });
      rows[k][key] = input.value;
      table.onChange();
    });
    input.addEventListener('paste', (event) => {
      const text = event.clipboardData.getData('text/plain');
      if (!/[\t\n\r]/.test(text)) return;
      event.preventDefault();
      paste(k, key, text);
    });
    input.addEventListener('keydown', (event) => keydown(event, k, key));
    input.addEventListener('blur', () => { typing = null; });
    td.append(input);
    return td;
  }

  function render() {
    body.replaceChildren();
    rows.forEach((row, k) => {
      const tr = document.createElement('tr');
      const number = document.createElement('td');
      number.className = 'number';
      number.textContent = String(k + 1);
      const tools = document.createElement('td');
      tools.className = 'tools';
      tools.append(
        button('↑', `move stage ${k + 1} up`, () => move(k, k - 1)),
        button('↓', `move stage ${k + 1} down`, () => move(k, k + 1)),
        button('+', `insert a stage before stage ${k + 1}`, () => change(() => rows.splice(k, 0, blank(rows[k - 1])))),
        button('×', `delete stage ${k + 1}`, () => change(() => rows.splice(k, 1))));
      tr.append(number, ...keys.map((key) => cell(row, k, key)), tools);
      body.append(tr);
    });
  }

  function step(from, to) {
    if (from.length === 0) return;
    const cell = focused();
    to.push(copy(rows));
    rows = from.pop();
    typing = null;
    render();
    focus(cell);
    table.onChange();
  }

  Object.assign(table, {
    rows: () => rows,
    // New rows, as from a file: one undo step.
    set(list) { return change(() => { rows = copy(list); }, null); },
    add() { change(() => rows.push(blank(rows[rows.length - 1])), { row: rows.length, key: 'name' }); },
    undo() { step(undone, redone); },
    redo() { step(redone, undone); },
    // Notes [{stages, key, text}] shown under the row of each note's first
    // stage (numbers from 1), its rows marked and the cell `key` of the
    // first marked invalid and described by the note. Whether any was shown.
    mark(notes) {
      for (const note of body.querySelectorAll('tr.note')) note.remove();
      for (const tr of body.querySelectorAll('tr.at-fault')) tr.classList.remove('at-fault');
      for (const input of body.querySelectorAll('input[aria-invalid]')) {
        input.removeAttribute('aria-invalid');
        input.removeAttribute('aria-describedby');
      }
      let shown = 0;
      const rowsNow = [...body.querySelectorAll('tr:not(.note)')];
      notes.forEach(({ stages, key, text }, n) => {
        const here = stages.filter((s) => s >= 1 && s <= rows.length);
        if (here.length === 0 || stages[0] !== here[0]) return;
        here.forEach((s) => rowsNow[s - 1].classList.add('at-fault'));
        const note = document.createElement('tr');
        note.className = 'note';
        const td = document.createElement('td');
        td.colSpan = 5;
        td.id = `note-${n}`;
        td.textContent = text;
        note.append(td);
        let after = rowsNow[here[0] - 1];
        while (after.nextElementSibling && after.nextElementSibling.classList.contains('note')) after = after.nextElementSibling;
        after.after(note);
        const input = key && rowsNow[here[0] - 1].querySelector(`input[data-key="${key}"]`);
        if (input) {
          input.setAttribute('aria-invalid', 'true');
          input.setAttribute('aria-describedby', td.id);
        }
        shown += 1;
      });
      return shown > 0;
    },
  });
  return table;
})();
