// The designer's worker: the module, and one command at a time from the
// page: {id, command: 'check'|'run'|'writeCycle'|'example', cycle, options} in, {id, result} out,
// and {id, progress: [time, stopTime]} while a run goes.
'use strict';
const su55ifReady = createSu55ifModule();
self.onmessage = async (event) => {
  const { id, command, cycle, options } = event.data;
  const module = await su55ifReady;
  const result = command === 'check'
    ? module.check(cycle, options)
    : command === 'run'
      ? module.run(cycle, options, (time, stopTime) => self.postMessage({ id, progress: [time, stopTime] }))
      : command === 'writeCycle'
        ? module.writeCycle(cycle.rows, cycle.text)
        : { example: module.example() };
  self.postMessage({ id, result });
};
