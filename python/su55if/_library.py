"""Loading libsu55if.so and calling its nine procedures through ctypes.

Each procedure has a method of its own, written out here with its inputs in
the order of the procedure description (include/su55if_procedures.json), its
defaults and its result; a test checks them against the description, which
lays out the call frames (_frame.py). Every method goes through
Library._call.
"""

from __future__ import annotations

import ctypes
import inspect
import numbers
import os
import warnings
from collections.abc import Mapping, Sequence
from pathlib import Path
from typing import Any, Optional, Union

from . import _description
from ._arguments import _MAX_LENGTH, PathLike, _Buffer, _check_mode, _formerly_positional, _vector_length, numpy
from ._capture import _new_capture
from ._description import Procedure
from ._errors import LibraryVersionWarning
from ._files import LIBRARY_FILE, _find_library, _install_hint, _open_library, library_version, package_version
from ._frame import MISFIT, _Frame
from ._results import ActionFlags, Call, Schedule, Timing, TwinActionFlags

# A vector input: any sequence of numbers (a list, a tuple, array('d'), a
# NumPy array).
Vector = Sequence[float]
# A block the library writes (derivatives=, workspace=): a list of reals, a
# writable NumPy array of floats, array('d') or a ctypes double array.
Block = Any


# Each method's procedure and result type; a test checks the methods'
# inputs and results against the description.
METHODS: dict[str, tuple[str, Optional[type]]] = {
    "define_stages": ("SU55IF_DEFST", Schedule),
    "check_stages": ("SU55IF_CHKST", None),
    "update_stage_duration": ("SU55IF_UPSTGTIM", None),
    "interaction_timing": ("SU55IF_INTTIM", Timing),
    "interaction_timing_twin": ("SU55IF_IINTTIM", Timing),
    "decode_action": ("SU55IF_ACTYP", ActionFlags),
    "decode_action_twin": ("SU55IF_IACTYP", TwinActionFlags),
    "record_step_duration": ("SU55IF_REPTIM", None),
    "switch_signal": ("SU55IF_PFNRSWTCH", None),
}


def _check_description(procedures: dict[str, Procedure], description: Path) -> None:
    """The description must describe the methods of this package: the same
    procedures, method names and input keywords in the same order."""
    for method, (name, _) in METHODS.items():
        procedure = procedures.get(name)
        wanted = [p.name for p in _signature_inputs(method)]
        if procedure is None or procedure.method != method or [a.keyword for a in procedure.inputs] != wanted:
            raise _description.DescriptionError(
                f"{description}: {name} is not as this package's {method}() takes it "
                f"(inputs {', '.join(wanted)}); the description and the package are of different versions"
            )


# A method's parameters that are not the procedure's inputs.
OPTIONS = frozenset({"self", "lengths", "mode", "derivatives", "workspace", "twin"})


def _signature_inputs(method: str) -> list[inspect.Parameter]:
    """The method's parameters that are the procedure's inputs, in order."""
    parameters = inspect.signature(getattr(Library, method)).parameters.values()
    return [p for p in parameters if p.name not in OPTIONS]


class Library:
    """A loaded libsu55if.so, with one method per procedure.

    The stage schedule belongs to the loaded file: every method of this
    object reads and writes the same table. load() gives each Library a
    private copy of the file by default, so two Library objects never share a
    table; load(private=False) loads the file itself, and every object loaded
    that way from one path shares its table (with any other code in the
    process that loaded that path).

    A Library keeps a prepared call frame per procedure: use one Library
    from one thread at a time (the library itself serialises calls that
    use its stage table).
    """

    def __init__(self, path: Union[str, Path], private: bool = True, arrays: bool = False) -> None:
        if arrays and numpy is None:
            raise ImportError(f"results as NumPy arrays need NumPy ({_install_hint('numpy')})")
        self.path = Path(path)
        self.private = private
        self.numpy = arrays
        self.description = _description.find_description(str(self.path))
        self.procedures = _description.read_description(self.description)
        _check_description(self.procedures, self.description)
        self._closed = True
        self._dll = _open_library(self.path, private)
        self._functions: dict[str, Any] = {}
        self._result_types: dict[str, Optional[type]] = {}
        for method, (name, result_type) in METHODS.items():
            try:
                function = getattr(self._dll, name)
            except AttributeError:
                self._unload()
                raise OSError(
                    f"load(): {self.path} does not export {name}: it is not {LIBRARY_FILE}, "
                    f"or not one that {self.description} describes"
                ) from None
            function.restype = None
            self._functions[name] = function
            self._result_types[name] = result_type
        self._capture = _new_capture()
        self._frames: dict[tuple[Any, ...], _Frame] = {}  # by procedure and lengths
        self._last: dict[str, _Frame] = {}  # each procedure's frame with the default output lengths, latest used
        self._closed = False

    def __repr__(self) -> str:
        kind = "private copy of" if self.private else "shared"
        return f"<su55if.Library {kind} {self.path}>"

    def __enter__(self) -> Library:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Unloads a private copy, and its stage table with it. Nothing may
        be called afterwards. A shared library stays loaded."""
        if self._closed:
            return
        self._closed = True
        self._frames.clear()
        self._last.clear()
        self._capture.close()
        self._unload()

    def _unload(self) -> None:
        if self.private:
            import _ctypes

            _ctypes.dlclose(self._dll._handle)  # type: ignore[attr-defined]  # POSIX only, as private copies

    def procedure(self, name: str) -> Procedure:
        """A procedure by its exported name (SU55IF_DEFST) or method name (define_stages)."""
        for procedure in self.procedures.values():
            if name in (procedure.name, procedure.method):
                return procedure
        raise ValueError(f"no procedure named {name!r}")

    def _prepare(self, procedure: Procedure, values: Sequence[Any], output_lengths: Mapping[str, int], where: str) -> _Frame:
        """The frame for these inputs: checks the vectors (vectors that share
        a size must have the same length) and finds or lays out the frame."""
        if self._closed:
            raise ValueError(f"{self!r} is closed")
        own: dict[int, int] = {}
        for argument in procedure.inputs:
            owner = argument.length_of
            if owner is not None:
                length = _vector_length(values[argument.position], f"{where}: {argument.keyword}")
                if owner == argument.position:
                    own[owner] = length
                elif length != own[owner]:
                    raise ValueError(
                        f"{where}: {argument.keyword} has {length} values but "
                        f"{procedure.inputs[owner].keyword} has {own[owner]}; they must have as many"
                    )
        input_lengths = [1 if a.length_of is None else own[a.length_of] for a in procedure.inputs]
        # An output vector has as many values as the first input vector,
        # unless the caller says otherwise.
        default = next(iter(own.values()), 0)
        own_outputs: dict[int, int] = {}
        for argument in procedure.outputs:
            if argument.length_of == argument.position:
                given = output_lengths.get(argument.keyword, output_lengths.get(argument.name, default))
                if isinstance(given, bool) or not isinstance(given, numbers.Integral) or not 0 <= given <= _MAX_LENGTH:
                    raise ValueError(f"{where}: the length of {argument.keyword} must be a whole number 0 or more")
                own_outputs[argument.position] = int(given)
        lengths = [1 if a.length_of is None else own_outputs[a.length_of] for a in procedure.outputs]
        key = (procedure.name, tuple(input_lengths), tuple(lengths))
        frame = self._frames.get(key)
        if frame is None:
            frame = self._frames[key] = self._new_frame(procedure, input_lengths, lengths)
        return frame

    def _new_frame(
        self, procedure: Procedure, input_lengths: list[int], output_lengths: list[int], own_workspace: bool = False
    ) -> _Frame:
        name = procedure.name
        return _Frame(procedure, self._functions[name], self._result_types[name], self._capture, self.numpy,
                      input_lengths, output_lengths, own_workspace)

    # --- the nine procedures ------------------------------------------------------------

    @_formerly_positional("time", "stage", "reference")
    def define_stages(
        self,
        requested: Vector,
        current: Optional[Vector] = None,
        hold: float = 0.0,
        *,
        time: float,
        stage: float = 1.0,
        reference: float = 0.0,
        lengths: Optional[Mapping[str, int]] = None,
        mode: float = 0.0,
        derivatives: Optional[Block] = None,
    ) -> Schedule:
        """SU55IF_DEFST: defines the stage schedule, keeps it up to date and reports it.

        requested: the requested stage durations; current: the durations in
        force (default: requested); hold: the hold switch; time: the current
        time (required, by keyword); stage: the stage in force; reference:
        the time the stage began. lengths={"durations": n}: the number of durations to
        report (default: as many as requested). Returns Schedule(durations,
        stage_duration, next_duration, elapsed, cycle_duration). Raises
        SimulationTerminated on status 4.
        """
        values = (requested, requested if current is None else current, hold, time, stage, reference)
        return self._call("SU55IF_DEFST", values, mode, derivatives, None, lengths)  # type: ignore[no-any-return]

    def check_stages(
        self, current: Vector, check: float = 1.0, *, mode: float = 0.0, derivatives: Optional[Block] = None
    ) -> float:
        """SU55IF_CHKST: takes the durations in force into the schedule, reports a change.

        current: the durations in force; check: the check switch. Returns
        durationsChanged, 1.0 or 0.0. Raises SimulationTerminated on status 4.
        """
        return self._call("SU55IF_CHKST", (current, check), mode, derivatives)  # type: ignore[no-any-return]

    @_formerly_positional("stage", "duration", "table")
    def update_stage_duration(
        self,
        update: float = 1.0,
        *,
        stage: float,
        duration: float,
        table: Vector,
        mode: float = 0.0,
        derivatives: Optional[Block] = None,
    ) -> float:
        """SU55IF_UPSTGTIM: sets the duration of a stage and of its partner.

        update: the update switch; stage: the stage, duration: its new
        duration, table: the interaction table (all three required, by
        keyword). Returns updateResult (0.0,
        1.0 or 2.0). Raises SimulationTerminated on status 4.
        """
        values = (update, stage, duration, table)
        return self._call("SU55IF_UPSTGTIM", values, mode, derivatives)  # type: ignore[no-any-return]

    def interaction_timing(
        self,
        table: Vector,
        stage: float,
        time: float,
        *,
        twin: bool = False,
        mode: float = 0.0,
        derivatives: Optional[Block] = None,
    ) -> Timing:
        """SU55IF_INTTIM: checks the interaction table; times a stage against its partner.

        table: the interaction table; stage: the stage in force; time: the
        current time. twin=True calls SU55IF_IINTTIM. Returns
        Timing(delay_for_code2, delay_for_code1, action_code). Raises
        SimulationTerminated on status 4.
        """
        name = "SU55IF_IINTTIM" if twin else "SU55IF_INTTIM"
        return self._call(name, (table, stage, time), mode, derivatives)  # type: ignore[no-any-return]

    def interaction_timing_twin(
        self, table: Vector, stage: float, time: float, *, mode: float = 0.0, derivatives: Optional[Block] = None
    ) -> Timing:
        """SU55IF_IINTTIM: as interaction_timing (SU55IF_INTTIM), but never reports action code -1."""
        return self._call("SU55IF_IINTTIM", (table, stage, time), mode, derivatives)  # type: ignore[no-any-return]

    def decode_action(
        self, code: float, *, twin: bool = False, mode: float = 0.0, derivatives: Optional[Block] = None
    ) -> Union[ActionFlags, TwinActionFlags]:
        """SU55IF_ACTYP: decodes an action code into indicator outputs.

        code: the action code. twin=True calls SU55IF_IACTYP. Returns
        ActionFlags(code1, code2, code_minus2, code_minus1) (TwinActionFlags,
        without code_minus1, with twin=True).
        """
        name = "SU55IF_IACTYP" if twin else "SU55IF_ACTYP"
        return self._call(name, (code,), mode, derivatives)  # type: ignore[no-any-return]

    def decode_action_twin(
        self, code: float, *, mode: float = 0.0, derivatives: Optional[Block] = None
    ) -> TwinActionFlags:
        """SU55IF_IACTYP: as decode_action (SU55IF_ACTYP) without the output for code -1."""
        return self._call("SU55IF_IACTYP", (code,), mode, derivatives)  # type: ignore[no-any-return]

    def record_step_duration(
        self, signal: float, time: float, *, workspace: Block, mode: float = 0.0, derivatives: Optional[Block] = None
    ) -> float:
        """SU55IF_REPTIM: measures the first period in which a signal is positive.

        signal: the signal; time: the current time; workspace: the 5 reals
        kept between calls, in one column (Library.step_recorder() keeps
        one). Returns recordedDuration (0.0 until the period has ended).
        """
        return self._call("SU55IF_REPTIM", (signal, time), mode, derivatives, workspace)  # type: ignore[no-any-return]

    def switch_signal(
        self, limit: float, value: float, enable: float = 1.0, *, mode: float = 0.0, derivatives: Optional[Block] = None
    ) -> float:
        """SU55IF_PFNRSWTCH: on/off signal from a value, its limit and an enable input.

        Returns switchSignal, 1.0 or 0.0.
        """
        return self._call("SU55IF_PFNRSWTCH", (limit, value, enable), mode, derivatives)  # type: ignore[no-any-return]

    # --- the one call path -------------------------------------------------------------

    def _call(
        self,
        name: str,
        values: tuple[Any, ...],
        mode: float = 0.0,
        derivatives: Optional[Block] = None,
        workspace: Optional[Block] = None,
        lengths: Optional[Mapping[str, int]] = None,
    ) -> Any:
        """Calls procedure `name` with its inputs in order: on the frame the
        last call of it used when the inputs fit it, else on one laid out for
        them after the inputs are checked."""
        plain = mode == 0.0 and derivatives is None and workspace is None
        frame = None if lengths else self._last.get(name)
        if frame is not None and plain and frame.plain:
            result = frame.run(values)
            if result is not MISFIT:
                return result
        # A first call, inputs of other lengths or not numbers, or options:
        # the inputs are checked and the frame found or laid out for them.
        procedure = self.procedures[name]
        where = procedure.method + "()"
        frame = self._prepare(procedure, values, lengths or {}, where)
        frame.fill(values, where)
        if not lengths:
            self._last[name] = frame
        if plain and frame.plain:
            return frame.run(values)
        _call_with_options(frame, {"mode": mode, "derivatives": derivatives, "workspace": workspace}, where)
        return frame.result()

    def call(
        self,
        name: str,
        inputs: Union[Mapping[str, Any], Sequence[Any]],
        outputs: Optional[Mapping[str, int]] = None,
        *,
        mode: float = 0.0,
        derivatives: Optional[Block] = None,
        workspace: Optional[Block] = None,
    ) -> Call:
        """Calls any procedure by name, with every input given by the
        manual's name (a mapping) or in order (a sequence). `outputs` gives
        the number of values of each output vector with a size of its own, by
        its name. Returns Call(outputs by the manual's names, status)."""
        procedure = self.procedure(name)
        where = f"call({procedure.name})"
        if isinstance(inputs, Mapping):
            for key in inputs:
                if key not in {argument.name for argument in procedure.inputs}:
                    raise TypeError(f"{where}: no input named {key!r}")
            missing = [argument.name for argument in procedure.inputs if argument.name not in inputs]
            if missing:
                raise TypeError(f"{where}: missing input {missing[0]!r}")
            values = [inputs[argument.name] for argument in procedure.inputs]
        else:
            values = list(inputs)
            if len(values) != len(procedure.inputs):
                raise TypeError(f"{where}: {len(procedure.inputs)} inputs needed, {len(values)} given")
        outputs = dict(outputs or {})
        for argument in procedure.outputs:
            if argument.length_of == argument.position and argument.name not in outputs:
                raise ValueError(f"{where}: the number of values of output {argument.name!r} is needed")
        frame = self._prepare(procedure, values, outputs, where)
        frame.fill(values, where)
        status = _call_with_options(frame, {"mode": mode, "derivatives": derivatives, "workspace": workspace}, where)
        return Call({argument.name: frame.output(argument.position) for argument in procedure.outputs}, status)

    def step_recorder(self) -> StepRecorder:
        """A StepRecorder on this library, with a zeroed workspace."""
        return StepRecorder(self)




def _call_with_options(frame: _Frame, options: dict[str, Any], where: str) -> int:
    procedure = frame.procedure
    mode = _check_mode(options.get("mode", 0.0), where)
    derivatives = options.get("derivatives")
    if derivatives is not None:
        derivatives = _Buffer(derivatives, f"{where}: derivatives")
    workspace = options.get("workspace")
    if procedure.workspace == 0 and workspace is not None:
        raise TypeError(f"{where} takes no workspace")
    if procedure.workspace and workspace is None:
        raise TypeError(
            f"{where} needs workspace= ({procedure.workspace} reals kept between calls); "
            "Library.step_recorder() keeps one for you"
        )
    if workspace is not None:
        workspace = _Buffer(workspace, f"{where}: workspace")
        needed = procedure.workspace
        if workspace.count != needed:
            raise ValueError(f"{where}: workspace must hold {needed} reals, not {workspace.given}")
        if workspace.shape != (needed, 1):
            raise ValueError(
                f"{where}: workspace must hold its {needed} reals in one column "
                f"(shape ({needed},) or ({needed}, 1)), not {workspace.given}"
            )
    return frame.call_with(mode, derivatives, workspace)


class StepRecorder:
    """SU55IF_REPTIM with the workspace it keeps between calls: measures the
    first period in which a signal is positive. Call it with (signal, time);
    it returns the recorded duration (0.0 until the period has ended)."""

    def __init__(self, library: Library):
        procedure = next(p for p in library.procedures.values() if p.workspace)
        self._library = library
        self._frame = library._new_frame(procedure, [1] * len(procedure.inputs), [1] * len(procedure.outputs), True)
        self._where = procedure.method + "()"

    def __call__(self, signal: float, time: float, *, mode: float = 0.0) -> float:
        if self._library._closed:
            raise ValueError(f"{self._library!r} is closed")
        frame = self._frame
        if mode == 0.0:
            result = frame.run((signal, time))
            if result is not MISFIT:
                return float(result)
        frame.fill((signal, time), self._where)
        frame.call_with(_check_mode(mode, self._where), None, None)
        return float(frame.result())

    @property
    def workspace(self) -> tuple[float, ...]:
        """The workspace as it stands: start, end, latest time, started, finished."""
        return tuple(self._frame.workspace)

    def reset(self) -> None:
        """Zeroes the workspace: the next positive signal starts a new measurement."""
        ctypes.memset(self._frame.workspace, 0, ctypes.sizeof(self._frame.workspace))


def load(path: Optional[PathLike] = None, *, private: bool = True, numpy: bool = False) -> Library:
    """Loads libsu55if.so and returns a Library.

    path: the file to load; without one, the first of library_candidates()
    that exists: SU55IF_LIBRARY, then, for the package of a checkout, that
    checkout's build before the installed locations (PREFIX/lib,
    PREFIX/lib/<triplet>, PREFIX/lib64 for the Python prefix, /usr/local
    and /usr), and for an installed package the installed locations first.
    A library of another version than the package's is loaded with a
    LibraryVersionWarning that names it and why it was chosen.

    private: load a private copy of the file (the default), so that this
    Library has a stage table of its own: the table belongs to the loaded
    file. private=False loads the file itself and shares its table with
    everything else in the process that loaded that path.

    numpy: return vector outputs as NumPy arrays instead of tuples.
    """
    library = Library(_find_library(path, "load()"), private=private, arrays=numpy)
    version, package = library_version(library.path), package_version()
    if version is not None and version != package:
        why = ("the path given to load()" if path is not None else "the file SU55IF_LIBRARY names"
               if os.environ.get("SU55IF_LIBRARY") else "the first of su55if.library_candidates() that exists")
        warnings.warn(f"loaded {library.path}, the library of version {version}, into the su55if package of version "
                      f"{package}: it is {why}", LibraryVersionWarning, stacklevel=2)
    return library


for _public in (Library, StepRecorder, Schedule, Timing, ActionFlags, TwinActionFlags, Call):
    _public.__module__ = "su55if"
