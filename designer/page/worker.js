// The designer's worker: the module, and one command at a time from the
// page: {id, command, cycle, options} in, {id, result} out, and
// {id, progress: [time, stopTime]} while a run goes. A command that throws
// gives {id, error}, and the next command a new module, as the one that
// threw may have stopped part-way through its call.
'use strict';
let su55ifReady = createSu55ifModule();
const commands = {
  check: (module, { cycle, options }) => module.check(cycle, options),
  run: (module, { id, cycle, options }) =>
    module.run(cycle, options, (time, stopTime) => self.postMessage({ id, progress: [time, stopTime] })),
  writeCycle: (module, { cycle }) => module.writeCycle(cycle.rows, cycle.text),
  example: (module) => module.example(),
  examples: (module) => module.examples(),
  stages: (module, { cycle }) => module.stages(cycle),
  stageLimit: (module) => module.stageLimit(),
};
self.onmessage = async (event) => {
  const { id, command } = event.data;
  try {
    const module = await su55ifReady;
    self.postMessage({ id, result: commands[command](module, event.data) });
  } catch (error) {
    su55ifReady = createSu55ifModule();
    self.postMessage({ id, error: String(error && error.message ? error.message : error) });
  }
};
