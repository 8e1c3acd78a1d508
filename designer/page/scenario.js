// The scenario in the page's address, after `#`: the cycle file as the
// engine writes it, the number of beds, the time unit, the run's settings
// and its input and events tables, so that a link brings it all back.
//
//   #v1:{"cycle":"stage,duration…","beds":"4",…}   readable: the JSON, escaped
//   #z1:<base64url>                                the same JSON, deflate-raw
//   #stage%2Cduration…                             an older page's: the cycle alone
//
// A field at its default is left out. The address is data: it is read with
// JSON.parse and DecompressionStream alone, every field's type checked and
// the unpacked size bounded, and the page sets what it holds only as
// values and text.
'use strict';

const scenario = (() => {
  const $ = (id) => document.getElementById(id);
  // The text fields: the key in the address, the field, its label.
  const texts = [
    ['beds', 'beds', 'Beds'], ['timeUnit', 'time-unit', 'Time unit'], ['stop', 'stop-time', 'Stop at'],
    ['outputInterval', 'output-interval', 'Output interval'], ['chartFrom', 'chart-from', 'Chart from'],
    ['chartTo', 'chart-to', 'Chart to'],
  ];
  const tables = [['inputs', 'inputs', 'input table'], ['events', 'events', 'events table']];
  const stopUnits = ['time', 'cycles'];
  const fieldLimit = 1000;  // characters in a setting or a file's name
  const sizeLimit = 8 * 2 ** 20;  // characters in a scenario, unpacked
  const addressLimit = 2e6;  // characters in an address a browser keeps (2 MB, with room for the page's own)
  const readableLimit = 2000;  // a longer address is packed

  // A reason the address cannot be read, in the page's words.
  class Unreadable extends Error {}

  // The scenario in the page's fields, with the cycle file {name, cycle}.
  function collect(cycleFile, withTables = true) {
    const s = cycleFile.name === 'cycle.csv' ? { cycle: cycleFile.cycle } : { ...cycleFile };
    for (const [key, id] of texts) if ($(id).value !== '') s[key] = $(id).value;
    if ($('stop-unit').value !== 'time') s.stopUnit = $('stop-unit').value;
    if ($('twin').checked) s.twin = true;
    for (const [key, id] of withTables ? tables : []) {
      if ($(id).value !== '') s[key] = { name: $(id).dataset.name || null, text: $(id).value };
    }
    return s;
  }

  // Bytes as base64url, and back (null for text that is not).
  function toBase64(bytes) {
    let binary = '';
    for (let at = 0; at < bytes.length; at += 0x8000) binary += String.fromCharCode(...bytes.subarray(at, at + 0x8000));
    return btoa(binary).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  }
  function fromBase64(text) {
    if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) return null;
    const binary = atob(text.replace(/-/g, '+').replace(/_/g, '/'));
    return Uint8Array.from(binary, (c) => c.charCodeAt(0));
  }

  async function deflate(text) {
    const stream = new Blob([text]).stream().pipeThrough(new CompressionStream('deflate-raw'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  }

  // Packed bytes unpacked as UTF-8, stopping once past sizeLimit: they are
  // fed a few kilobytes at a time, so that a small address that unpacks to
  // gigabytes is refused before it fills the memory.
  async function inflate(bytes) {
    const { readable, writable } = new DecompressionStream('deflate-raw');
    const writer = writable.getWriter();
    (async () => {
      for (let at = 0; at < bytes.length; at += 4096) await writer.write(bytes.subarray(at, at + 4096));
      await writer.close();
    })().catch(() => {});  // the reader meets the same failure
    const reader = readable.getReader();
    const chunks = [];
    let size = 0;
    for (;;) {
      let part;
      try {
        part = await reader.read();
      } catch {
        throw new Unreadable('its packed part is damaged');
      }
      if (part.done) break;
      size += part.value.byteLength;
      if (size > sizeLimit) {
        reader.cancel().catch(() => {});
        throw new Unreadable(`it unpacks to more than ${sizeLimit / 2 ** 20} MB`);
      }
      chunks.push(part.value);
    }
    try {
      return new TextDecoder('utf-8', { fatal: true }).decode(await new Blob(chunks).arrayBuffer());
    } catch {
      throw new Unreadable('its packed part is not text');
    }
  }

  // The address of a scenario: readable while short, packed when that is
  // shorter still; '' when it is too long for an address.
  async function address(s) {
    const json = JSON.stringify(s);
    // Escaped as a fragment needs, the JSON's own punctuation kept.
    const readable = '#v1:' + encodeURIComponent(json).replace(/%(2C|3A|7B|7D|5B|5D|2F|40|3D|2B|24|26|3B|5C)/g,
      (escaped) => decodeURIComponent(escaped));
    if (readable.length <= readableLimit) return readable;
    const packed = '#z1:' + toBase64(await deflate(json));
    const shorter = packed.length < readable.length ? packed : readable;
    return shorter.length <= addressLimit ? shorter : '';
  }

  // The scenario's text in an address (after '#'), or an older page's
  // cycle alone as {cycle}.
  async function unpack(hash) {
    if (hash.length > addressLimit) throw new Unreadable(`it is longer than ${addressLimit / 1e6} MB`);
    const form = /^([vz])(\d+):/.exec(hash);
    if (!form) return { cycle: unescaped(hash) };
    if (form[2] !== '1') throw new Unreadable('a later version of the page made it');
    const rest = hash.slice(form[0].length);
    let json;
    if (form[1] === 'v') json = unescaped(rest);
    else {
      const bytes = fromBase64(rest);
      if (bytes === null) throw new Unreadable('its packed part has a character a packed part never has');
      json = await inflate(bytes);
    }
    try {
      return JSON.parse(json);
    } catch {
      throw new Unreadable('it was cut short or changed');
    }
  }
  function unescaped(text) {
    try {
      return decodeURIComponent(text);
    } catch {
      throw new Unreadable('a % sign not followed by two hexadecimal digits');
    }
  }

  // The scenario read from an address, each field checked: {name, cycle,
  // fields: {key: value}}. Unknown keys, from a later page, are passed over.
  function checked(s) {
    if (typeof s !== 'object' || s === null || Array.isArray(s)) throw new Unreadable('it holds no scenario');
    const isText = (value, limit = fieldLimit) => typeof value === 'string' && value.length <= limit;
    const need = (ok, what) => { if (!ok) throw new Unreadable(what); };
    need(isText(s.cycle, sizeLimit), 'its stages are not a text');
    need(s.name === undefined || (isText(s.name) && s.name !== ''), 'its file name is not a short text');
    const fields = {};
    for (const [key, , label] of texts) {
      need(s[key] === undefined || isText(s[key]), `${label} is not a short text`);
      fields[key] = s[key] === undefined ? '' : s[key];
    }
    need(s.stopUnit === undefined || stopUnits.includes(s.stopUnit), "the stop's unit is neither time nor cycles");
    need(s.twin === undefined || typeof s.twin === 'boolean', 'the twin procedures are neither on nor off');
    fields.stopUnit = s.stopUnit || 'time';
    fields.twin = s.twin === true;
    for (const [key, , label] of tables) {
      const t = s[key];
      need(t === undefined || (typeof t === 'object' && t !== null && isText(t.text, sizeLimit) &&
        (t.name === null || t.name === undefined || isText(t.name))), `the ${label} is not a text with a file name`);
      fields[key] = t === undefined ? { name: null, text: '' } : { name: t.name || null, text: t.text };
    }
    return { name: s.name || 'cycle.csv', cycle: s.cycle, fields };
  }

  return {
    Unreadable,
    // The scenario in an address (after '#'), checked; throws Unreadable.
    read: async (hash) => checked(await unpack(hash)),
    // The page's fields set to a scenario's.
    show(fields) {
      for (const [key, id] of texts) $(id).value = fields[key];
      $('stop-unit').value = fields.stopUnit;
      $('twin').checked = fields.twin;
      for (const [key, id] of tables) {
        $(id).value = fields[key].text;
        if (fields[key].name) $(id).dataset.name = fields[key].name;
        else delete $(id).dataset.name;
      }
    },
    // The address of the page's scenario with this cycle file ({name,
    // cycle}), and whether its input and events tables had to be left out.
    async address(cycleFile) {
      const whole = await address(collect(cycleFile));
      if (whole !== '') return { hash: whole, tablesLeftOut: false };
      return { hash: await address(collect(cycleFile, false)), tablesLeftOut: true };
    },
    // Options check and run both take from the fields.
    options() {
      const options = {};
      if ($('time-unit').value.trim() !== '') options.timeUnit = $('time-unit').value;
      if ($('twin').checked) options.twin = true;
      return options;
    },
    // onChange(field) for an edit of any of the scenario's fields.
    watch(onChange) {
      for (const id of [...texts, ...tables].map((t) => t[1])) $(id).addEventListener('input', () => onChange(id));
      for (const id of ['stop-unit', 'twin']) $(id).addEventListener('change', () => onChange(id));
    },
  };
})();
