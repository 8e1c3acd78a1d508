"""A user's script: mypy --strict checks it against the package's types."""

import su55if

lib = su55if.load()
schedule: su55if.Schedule = lib.define_stages([10.0, 20.0, 10.0, 40.0], time=0.0)
changed: float = lib.check_stages([10.0, 20.0, 10.0, 40.0])
result: float = lib.update_stage_duration(stage=1.0, duration=10.0, table=[3.0, 0.0, 1.0, 0.0])
timing: su55if.Timing = lib.interaction_timing([3.0, 0.0, 1.0, 0.0], stage=1.0, time=85.0)
twin: su55if.Timing = lib.interaction_timing_twin([3.0, 0.0, 1.0, 0.0], 1.0, 85.0)
flags = lib.decode_action(1.5)
twin_flags: su55if.TwinActionFlags = lib.decode_action_twin(1.5)
workspace = [0.0] * 5
recorded: float = lib.record_step_duration(1.0, 2.0, workspace=workspace)
switched: float = lib.switch_signal(5.0, 4.0, 1.0)
timeline: su55if.Timeline = su55if.read_cycle("examples/four-stage.csv").run(stop_time=160.0, output_interval=0.5)
print(schedule.cycle_duration + changed + result + timing.action_code + twin.action_code + flags.code1
      + twin_flags.code2 + recorded + switched, len(timeline), timeline.to_csv()[:4])
row = timeline[0]
stage_then: float = row.stage + row.action_code
durations_later: tuple[float, ...] = timeline.schedules[-1].durations
cycle = su55if.Cycle((10.0, 20.0), (0, 0), name="two")
print(stage_then, durations_later, su55if.__version__, cycle.run(cycles=1)[-1].time)
four_bed = su55if.read_cycle("examples/four-bed.csv")
beds: su55if.Beds = four_bed.beds(4)
bed_counts: tuple[int, ...] = four_bed.beds()
print(beds.links[0].whole_shifts, beds.rows[0][0].start, bed_counts)
