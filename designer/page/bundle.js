// Build step: the worker's source (the module, then worker.js) as a string
// in a script of its own, so that a page opened from a file can start the
// worker from a Blob, as browsers load no worker from a file: address.
//   node bundle.js su55if-module.js worker.js worker-source.js
'use strict';
const fs = require('node:fs');
const [moduleFile, workerFile, output] = process.argv.slice(2);
const source = fs.readFileSync(moduleFile, 'utf8') + '\n' + fs.readFileSync(workerFile, 'utf8');
fs.writeFileSync(output, `'use strict';\nself.su55ifWorkerSource = ${JSON.stringify(source)};\n`);
