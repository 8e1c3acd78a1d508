// The designer page's beds and examples: the Beds field, whose number the
// table is checked with, the grid of the beds as the cycle's picture, the
// bed counts every link fits, each a button, and the gallery of example
// cycles. The engine draws the grid and judges the number; the page puts
// what comes back in its own words (say(), in designer.js, which this file
// shares the page's functions with).
'use strict';

// The options that check the table with the Beds field's number and draw
// its grid; none when the field is empty.
function bedsOptions() {
  const beds = $('beds').value.trim();
  return beds ? { beds, chart: true } : {};
}

// The Beds field's number alone: for a run, whose chart then draws each
// schedule's grid under the run, and for the text report, which then has
// the beds' section.
function bedsRunOptions() {
  const { beds } = bedsOptions();
  return beds ? { beds } : {};
}

// The rule the engine holds a Beds value to, at the field; none to clear.
function bedsFieldRule(text) {
  $('beds-rule').textContent = text;
  if (text) $('beds').setAttribute('aria-invalid', 'true');
  else $('beds').removeAttribute('aria-invalid');
}

// The table checked as `options` say, with the beds when the field has a
// number (`withBeds`: with the grid, unless the caller needs the beds
// alone). A number the engine refuses is told at the field, and the table
// checked without it, so that its own verdict still shows.
async function checkWithBeds(cycle, options, withBeds = bedsOptions()) {
  let json = await su55if.check(cycle, { ...options, ...withBeds });
  const refused = json.exitCode === 2 && json.stdout === '' && json.diagnostics.find((d) => d.option === 'beds');
  bedsFieldRule(refused ? say(refused) : '');
  if (refused) json = await su55if.check(cycle, options);
  return json;
}

// The cycle's picture in the Stages panel, and in the Run panel until a run
// shows its own chart there: the grid of the beds or the cycle's chart
// (`kind`), or none.
let pictureUrl = null;
const pictureWords = {
  beds: "Each bed's stages over one cycle, each bed a shift behind the one before, with the links between partners",
  cycle: "The cycle's stages with the links between partners",
};
function showPicture(svg, kind = 'cycle') {
  if (pictureUrl) URL.revokeObjectURL(pictureUrl);
  pictureUrl = svg ? URL.createObjectURL(new Blob([svg], { type: 'image/svg+xml' })) : null;
  for (const id of ['cycle-chart', 'run-preview']) {
    const image = $(id);
    image.hidden = !svg;
    if (svg) {
      image.src = pictureUrl;
      image.alt = pictureWords[kind];
    }
  }
}

// A button that sets the Beds field to `count` and checks again.
function bedCountButton(count) {
  const button = document.createElement('button');
  button.type = 'button';
  button.textContent = String(count);
  button.setAttribute('aria-label', `Check as ${count} beds`);
  button.addEventListener('click', () => {
    $('beds').value = String(count);
    $('beds').focus();
    changed();
  });
  return button;
}

// What the check found of the beds (check --format json, with `report` its
// reading): the bed counts every link fits, the verdict when a link does not
// fit the field's number, and the grid as the picture. Whether the grid is
// shown.
function showBeds(json) {
  const fitting = $('fitting-beds');
  fitting.replaceChildren();
  if (!report || !report.runnable || !report.fittingBedCounts) return false;
  const counts = report.fittingBedCounts;
  if (report.linkOffsets.length === 0) {
    fitting.textContent = 'No stage has a partner: any number of beds fits.';
  } else if (counts.length === 0) {
    fitting.textContent = `No number of beds from 2 to ${Math.max(2, report.stages.length)} fits every link.`;
  } else {
    fitting.append('Fits ');
    counts.forEach((count, k) => {
      if (k > 0) fitting.append(k === counts.length - 1 ? ' or ' : ', ');
      fitting.append(bedCountButton(count));
    });
    fitting.append(' beds.');
  }
  const misfits = report.diagnostics.filter((d) => d.kind === 'bedMisfit').length;
  if (misfits > 0) {
    $('verdict').className = 'misfit';
    $('verdict').textContent = `The library accepts the cycle, but ${misfits === 1 ? 'a link does' : `${misfits} links do`} ` +
      `not fit ${report.beds.count} beds.`;
  }
  if (!json.chart) return false;
  showPicture(json.chart, 'beds');
  return true;
}

// The gallery: each example with what it is; one picked is loaded as a
// file is, with the Beds and Time unit fields set to what it is meant for
// (emptied for one that says none).
async function startGallery() {
  const gallery = $('gallery');
  const list = $('gallery-list');
  const examples = await su55if.examples();
  list.replaceChildren(...examples.map((example, k) => {
    const item = document.createElement('li');
    const button = document.createElement('button');
    button.type = 'button';
    button.textContent = example.name.replace(/\.csv$/, '') + (example.beds ? ` (${example.beds} beds)` : '');
    const description = document.createElement('p');
    description.id = `example-${k}`;
    description.textContent = example.description;
    button.setAttribute('aria-describedby', description.id);
    button.addEventListener('click', async () => {
      gallery.open = false;
      $('beds').value = example.beds ? String(example.beds) : '';
      $('time-unit').value = example.timeUnit || '';
      await load(example.name, example.text);
    });
    item.append(button, description);
    return item;
  }));
  gallery.addEventListener('toggle', () => { if (gallery.open) list.querySelector('button').focus(); });
  document.addEventListener('click', (event) => { if (gallery.open && !gallery.contains(event.target)) gallery.open = false; });
  gallery.addEventListener('keydown', (event) => {
    if (event.key !== 'Escape' || !gallery.open) return;
    gallery.open = false;
    gallery.querySelector('summary').focus();
  });
}

// The Beds field's edits check again through the scenario's fields
// (scenario.watch, in designer.js).
function startBeds() {
  return startGallery();
}
