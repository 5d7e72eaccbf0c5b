"""Drivanto, the series-hybrid car simulator, from Python.

    import drivanto
    r = drivanto.run("data", settings={"cycleType": "T", "Ttidd": "UDDS.CYK",
                                       "timeMode": "D", "dt": 0.1},
                     record=["ttot", "v", "usedCapacity"])
    r.summary["chargeBalance"]["correctedFuelPer100km"], r["v"]

A run is made by the simulator's own run API (the interpreter's lock is
released while it runs), so its result files, summary and recorded
variables are those of drivanto-batch with the same settings. Strategies
may be written in Python (subclass Strategy); sweeps run on threads or on any
concurrent.futures executor, a Dask cluster's among them.
"""

import concurrent.futures
import itertools
import json
import math
import os

from . import _drivanto

__version__ = _drivanto.__version__
__all__ = ["run", "sweep", "optimum", "Result", "Strategy", "Decision", "TableRangeError",
           "__version__"]


class TableRangeError(Exception):
    """A table lookup fell outside its table (the two lines of ERROR.TAB)."""


class Decision:
    """What a strategy decides for a step: the engine on or off, the charging
    power into the battery (W) or instead a charging current (A, when above
    0), and the engine speed (rpm; 0: the generator's set speed)."""

    __slots__ = ("engine_on", "power", "speed", "current")

    def __init__(self, engine_on=False, power=0.0, speed=0.0, current=0.0):
        self.engine_on = bool(engine_on)
        self.power = float(power)
        self.speed = float(speed)
        self.current = float(current)

    def __repr__(self):
        return "Decision(engine_on=%r, power=%r, speed=%r, current=%r)" % (
            self.engine_on, self.power, self.speed, self.current)


class Strategy:
    """An energy-management strategy written in Python. Subclass it and
    write decide(self, inputs, car) -> Decision; inputs tells the time, speeds,
    slope, used capacity, voltage, traction and auxiliary power, what the
    engine gave last step and, on a time cycle, inputs.rows_ahead(n); car
    answers questions on the engine's tables (max_torque, efficiency,
    fuel_flow, torque_for, best_speed, speed_range; None outside a table).
    What it keeps between steps it gives as numbers from state() and takes
    back in load_state(values): a snapshot of the run holds them. Each run
    steps a deep copy of the object given."""

    name = None

    def decide(self, inputs, car):  # pragma: no cover - to be written
        raise NotImplementedError("a Strategy needs decide(self, inputs, car)")

    def parameters(self):
        return {}

    def state(self):
        return []

    def load_state(self, values):
        if list(values):
            raise ValueError("this strategy keeps nothing, yet was given %r" % (list(values),))


class Result:
    """A run's result: summary (the dict drivanto-batch --json prints),
    result[name] the recorded variable as a NumPy array (a value per step),
    units[name] its unit, warnings, and to_pandas()."""

    def __init__(self, summary, names, units, columns, warnings, notices):
        self.summary = summary
        self.names = list(names)
        self.units = dict(zip(names, units))
        self._columns = dict(zip(names, columns))
        self.warnings = list(warnings)
        self.notices = list(notices)

    def __getitem__(self, name):
        try:
            return self._columns[name]
        except KeyError:
            raise KeyError("%r was not recorded (recorded: %s)" % (name, ", ".join(self.names)))

    def __contains__(self, name):
        return name in self._columns

    def to_pandas(self):
        """The recorded variables as a DataFrame, a column each (pandas needed)."""
        import pandas
        return pandas.DataFrame({n: self._columns[n] for n in self.names})

    def __repr__(self):
        s = self.summary
        return "<drivanto.Result %s, %s steps, %s>" % (
            s.get("endReason"), s.get("steps"), ", ".join(self.names) or "nothing recorded")


def _setting_text(value):
    if isinstance(value, bool):
        raise ValueError("a setting takes a number or a text, not %r" % (value,))
    if isinstance(value, float):
        if not math.isfinite(value):
            raise ValueError("a setting takes a finite number, not %r" % (value,))
        return repr(value)
    if isinstance(value, (int, str)):
        return str(value)
    raise ValueError("a setting takes a number or a text, not %s %r" % (type(value).__name__, value))


def _settings(settings):
    if settings is None:
        return []
    if isinstance(settings, dict):
        items = settings.items()
    else:
        items = settings
    out = []
    for name, value in items:
        if not isinstance(name, str):
            raise ValueError("a setting's name is a text, not %r" % (name,))
        out.append((name, _setting_text(value)))
    return out


def _raise(exit_code, message):
    message = message.strip()
    if message.startswith("drivanto: "):
        message = message[len("drivanto: "):]
    if exit_code == 2:
        raise ValueError(message)
    if exit_code == 3:
        raise TableRangeError(message)
    raise OSError(message)


def run(folder=".", settings=None, strategy=None, strategy_params=None, record=None,
        max_steps=None, constants=None, load_snapshot=None, save_snapshot=None, trace=None):
    """Runs the car in `folder` (its CONS.VAL, or `constants`) with the
    settings (a dict or pairs, by the variables' names as --set takes them),
    the strategy (a name such as "ecms" or "schedule=FILE.csv", with
    strategy_params, or a Strategy object), recording the variables named in
    `record`. Returns a Result. Usage errors raise ValueError, files OSError,
    a table lookup outside its table TableRangeError."""
    name, params, obj = "", [], None
    if isinstance(strategy, Strategy):
        obj = strategy
    elif isinstance(strategy, str):
        name = strategy
    elif strategy is not None:
        raise ValueError("strategy takes a name or a drivanto.Strategy, not %r" % (strategy,))
    if strategy_params:
        if obj is not None:
            raise ValueError("strategy_params go with a strategy's name, not a Strategy object")
        for k, v in dict(strategy_params).items():
            if isinstance(v, bool) or not isinstance(v, (int, float)) or not math.isfinite(v):
                raise ValueError("the strategy parameter %s takes a finite number, not %r" % (k, v))
            params.append((str(k), float(v)))
    if record is None:
        record = []
    elif isinstance(record, str):
        record = [record]
    record = [str(r) for r in record]
    if max_steps is not None and (isinstance(max_steps, bool) or not isinstance(max_steps, int)
                                  or max_steps < 0):
        raise ValueError("max_steps takes a whole number not below 0, not %r" % (max_steps,))
    out = _drivanto.run(os.fspath(folder), _settings(settings), name, params, obj, record,
                        -1 if max_steps is None else max_steps, os.fspath(constants or ""),
                        os.fspath(load_snapshot or ""), os.fspath(save_snapshot or ""),
                        os.fspath(trace or ""))
    if out["strategy_error"] is not None:
        raise out["strategy_error"]
    if out["strategy_reason"]:
        raise ValueError("the strategy %s: %s" % (type(strategy).__name__, out["strategy_reason"]))
    if out["exit_code"] != 0:
        _raise(out["exit_code"], out["error"])
    summary = json.loads(out["summary"])
    return Result(summary, out["names"], out["units"], out["columns"], out["warnings"],
                  out["notices"])


def _flatten(key, value, into):
    if isinstance(value, dict):
        for k, v in value.items():
            _flatten(key + "." + k if key else k, v, into)
    else:
        into[key] = value


def _run_row(description):
    """One run of a sweep as its table's row (also on another process or
    machine: the description is plain data)."""
    run_id, folder, settings, options = description
    row = {"id": run_id}
    for name, value in settings:
        row["set." + name] = value
    try:
        r = run(folder, settings=list(options.get("settings", [])) + list(settings),
                strategy=options.get("strategy"), strategy_params=options.get("strategy_params"),
                constants=options.get("constants"))
        row["exitCode"], row["error"] = 0, ""
        flat = {}
        _flatten("", {k: v for k, v in r.summary.items()
                      if k not in ("settings", "runOptions", "inputs")}, flat)
        row.update(flat)
    except ValueError as e:
        row["exitCode"], row["error"] = 2, str(e)
    except TableRangeError as e:
        row["exitCode"], row["error"] = 3, str(e)
    except OSError as e:
        row["exitCode"], row["error"] = 1, str(e)
    return row


def _grid_values(values):
    if isinstance(values, str):
        if values.count(":") == 2:
            start, stop, step = (float(x) for x in values.split(":"))
            if step <= 0:
                raise ValueError("a range FROM:TO:STEP needs a step above 0, not %r" % (values,))
            n = int(math.floor((stop - start) / step + 1e-9)) + 1
            return [float("%.15g" % (start + i * step)) for i in range(n)]
        return values.split(",")
    return list(values)


def sweep(folder=".", grid=None, runs=None, settings=None, strategy=None, strategy_params=None,
          constants=None, executor=None, jobs=None):
    """Runs every combination of `grid` ({name: values}, values a list or
    "FROM:TO:STEP" or "A,B,C"), or the rows of `runs` (a list of dicts of
    settings, an optional "id" among them), each with `settings` given to
    all. Returns a table like drivanto-sweep's summary.csv: a list of dicts
    (id, set.NAME, exitCode, error, the summary's figures), or a DataFrame
    when pandas is there. With no executor the runs use the cores in threads;
    with a concurrent.futures executor (a process pool, a Dask
    distributed.Client) they are submitted there."""
    if (grid is None) == (runs is None):
        raise ValueError("sweep takes a grid or runs, one of them")
    plan = []
    if grid is not None:
        names = list(grid)
        values = [_grid_values(grid[n]) for n in names]
        for k, combo in enumerate(itertools.product(*values)):
            plan.append(("run%03d" % (k + 1), [(n, _setting_text(v)) for n, v in zip(names, combo)]))
    else:
        for k, row in enumerate(runs):
            row = dict(row)
            run_id = str(row.pop("id", "run%03d" % (k + 1)))
            plan.append((run_id, [(n, _setting_text(v)) for n, v in row.items()]))
    options = {"settings": _settings(settings), "strategy": strategy,
               "strategy_params": strategy_params,
               "constants": os.fspath(constants) if constants else None}
    folder = os.path.abspath(os.fspath(folder))
    descriptions = [(run_id, folder, s, options) for run_id, s in plan]
    if executor is None:
        workers = jobs or os.cpu_count() or 1
        with concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
            rows = list(pool.map(_run_row, descriptions))
    else:
        futures = [executor.submit(_run_row, d) for d in descriptions]
        rows = [f.result() for f in futures]
    try:
        import pandas
    except ImportError:
        return rows
    return pandas.DataFrame(rows)


def optimum(folder=".", settings=None, step=1.0, used_points=200, powers=40, used_min=None,
            used_max=None, limits_from_constants=False, max_power=0.0, fixed_speed=False,
            start_cost=0.0, nox_weight=0.0, threads=1, schedule="optimal-schedule.csv",
            constants=None):
    """The least fuel with which the car could drive its time cycle, known in
    advance, ending where it began (drivanto-optimal): a dict with "solver"
    (the solver's figures) and "forward" (the summary of the model's run of
    the schedule written to `schedule`)."""
    out = _drivanto.optimum(os.fspath(folder), _settings(settings), os.fspath(constants or ""),
                            float(step), int(used_points), int(powers),
                            float("nan") if used_min is None else float(used_min),
                            float("nan") if used_max is None else float(used_max),
                            bool(limits_from_constants), float(max_power), bool(fixed_speed),
                            float(start_cost), float(nox_weight), int(threads),
                            os.fspath(schedule))
    if out["exit_code"] != 0:
        _raise(out["exit_code"], out["error"])
    return json.loads(out["json"])
