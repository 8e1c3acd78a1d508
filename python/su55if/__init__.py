"""su55if from Python: the nine stage-schedule procedures of libsu55if.so,
called through ctypes, and cycles read and run by su55if-host.

    import su55if
    lib = su55if.load()
    print(lib.define_stages(requested=[10, 20, 30], time=0.0))

docs/python.md describes the package.
"""

from ._beds import BedLink, BedMeeting, BedMisfit, Beds, BedStage
from ._cycle import Cycle, parse_cycle, read_cycle
from ._description import DescriptionError, Procedure
from ._errors import CycleFileError, LibraryVersionWarning, LinkDriftWarning, SimulationTerminated
from ._files import find_library, library_candidates, package_version
from ._host import find_host, host_candidates
from ._library import Library, StepRecorder, load
from ._results import ActionFlags, Call, Schedule, Timing, TwinActionFlags
from ._timeline import ScheduleChange, Timeline

# The package's version; the library of the same version is its own.
__version__ = package_version()

__all__ = [
    "ActionFlags",
    "BedLink",
    "BedMeeting",
    "BedMisfit",
    "BedStage",
    "Beds",
    "Call",
    "Cycle",
    "CycleFileError",
    "DescriptionError",
    "Library",
    "LibraryVersionWarning",
    "LinkDriftWarning",
    "Procedure",
    "Schedule",
    "ScheduleChange",
    "SimulationTerminated",
    "StepRecorder",
    "Timeline",
    "Timing",
    "TwinActionFlags",
    "__version__",
    "find_host",
    "find_library",
    "host_candidates",
    "library_candidates",
    "load",
    "parse_cycle",
    "read_cycle",
]
