"""The Python module against the simulator's own programs: arrays that are
the trace's numbers, result files that are drivanto-batch's, a thermostat
written in Python that is the car's own, a sweep on a Dask cluster that is
the sweep in threads, and bad input that is an exception naming it."""

import csv
import math
import os
import shutil
import subprocess

import pytest

import drivanto

DATA = os.environ["DRIVANTO_TEST_DATA"]
BATCH = os.environ["DRIVANTO_BATCH"]
UDDS = {"cycleType": "T", "Ttidd": "UDDS.CYK", "timeMode": "D", "dt": 0.1}


@pytest.fixture
def folder(tmp_path):
    shutil.copytree(DATA, tmp_path / "data")
    return tmp_path / "data"


class Thermostat(drivanto.Strategy):
    """The car's own rule, written in Python."""

    def __init__(self, on, off, current):
        self.on, self.off, self.current = on, off, current

    def decide(self, inputs, car):
        on = inputs.engine_was_on
        if inputs.used_capacity > self.on:
            on = True
        if inputs.used_capacity < self.off:
            on = False
        if self.current < 0:
            return drivanto.Decision(on, power=-self.current * 1000)
        return drivanto.Decision(on, current=self.current)


class Counting(drivanto.Strategy):
    """Charges 15 kW for every third 100 s it has been on: keeps a count."""

    def __init__(self):
        self.seconds = 0.0

    def decide(self, inputs, car):
        on = inputs.used_capacity > 58.5 or (inputs.engine_was_on and inputs.used_capacity > 57.5)
        if on:
            self.seconds += inputs.dt
        return drivanto.Decision(on, power=15000 if int(self.seconds / 100) % 3 else 9000,
                                 speed=car.best_speed(15000))

    def state(self):
        return [self.seconds]

    def load_state(self, values):
        (self.seconds,) = values


def test_the_arrays_are_the_traces_numbers(folder):
    names = ["ttot", "v", "U", "usedCapacity", "fuelLeft"]
    r = drivanto.run(folder, settings=UDDS, record=names, trace=folder / "t.csv")
    with open(folder / "t.csv") as f:
        rows = list(csv.reader(f))
    header = [h.split("_")[0] for h in rows[0]]
    assert r.units["v"] == "m/s" and r.summary["endReason"] == "mode100"
    for name in names:
        column = [float(row[header.index(name)]) for row in rows[1:]]
        assert list(r[name]) == column, name  # bit for bit


@pytest.mark.parametrize("strategy", [None, "ecms"])
def test_a_run_is_drivanto_batchs_run(tmp_path, strategy):
    a, b = tmp_path / "a", tmp_path / "b"
    shutil.copytree(DATA, a)
    shutil.copytree(DATA, b)
    settings = dict(UDDS, Spara="1100")
    args = [BATCH] + [x for k, v in settings.items() for x in ("--set", "%s=%s" % (k, v))]
    if strategy:
        args += ["--strategy", strategy]
    subprocess.run(args + [str(a)], check=True, capture_output=True)
    drivanto.run(b, settings=settings, strategy=strategy)
    for name in ("RESULT1.TXT", "RESULT2.TXT"):
        assert (a / name).read_bytes() == (b / name).read_bytes(), name


@pytest.mark.parametrize("current", [70, -15])
def test_a_thermostat_written_in_python_is_the_cars_own(tmp_path, current):
    a, b = tmp_path / "a", tmp_path / "b"
    shutil.copytree(DATA, a)
    shutil.copytree(DATA, b)
    settings = dict(UDDS, Spara="1100", chargeOnLimit=62, chargeOffLimit=45, chargeSetting=current)
    drivanto.run(a, settings=settings)
    r = drivanto.run(b, settings=settings, strategy=Thermostat(62, 45, current))
    assert r.summary["strategy"] == "Thermostat"
    for name in ("RESULT1.TXT", "RESULT2.TXT"):
        assert (a / name).read_bytes() == (b / name).read_bytes(), name


def test_a_python_strategy_resumes_from_a_snapshot_with_what_it_kept(folder):
    settings = dict(UDDS, Spara="0000")
    whole = drivanto.run(folder, settings=settings, strategy=Counting(), record=["fuelLeft"])
    first = drivanto.run(folder, settings=settings, strategy=Counting(), max_steps=7000,
                         save_snapshot=folder / "part.snap")
    assert first.summary["endReason"] == "maxSteps"
    second = drivanto.run(folder, strategy=Counting(), load_snapshot=folder / "part.snap",
                          record=["fuelLeft"])
    assert list(second["fuelLeft"]) == list(whole["fuelLeft"][7000:])


def test_the_car_answers_inside_its_tables_and_says_none_outside(folder):
    answers = []

    class Asks(drivanto.Strategy):
        def decide(self, inputs, car):
            if not answers:  # (the first step: the cycle's rows are there too)
                low, high = car.speed_range()
                answers.extend([car.max_torque(3000), car.max_torque(high * 10),
                                car.efficiency(3000, 60), car.fuel_flow(3000, 60),
                                car.efficiency(high * 10, 60), car.best_speed(15000), low < high,
                                inputs.rows_ahead(3)])
            return None

    drivanto.run(folder, settings=dict(UDDS, Spara="0000"), strategy=Asks(), max_steps=5)
    most, beyond, eff, flow, outside, best, ordered, ahead = answers
    assert most > 0 and beyond is None and outside is None and ordered
    assert 0 < eff < 100 and flow > 0 and best > 0
    assert len(ahead) == 3 and ahead[0][0] < ahead[1][0] < ahead[2][0]


def test_bad_input_is_an_exception_naming_it(folder):
    class Raises(drivanto.Strategy):
        def decide(self, inputs, car):
            if inputs.time > 5:
                raise ZeroDivisionError("a fault in the strategy")
            return None

    class ReturnsNaN(drivanto.Strategy):
        def decide(self, inputs, car):
            return drivanto.Decision(True, power=float("nan"))

    cases = [
        (dict(settings={"noSuchSetting": 1}), ValueError, "noSuchSetting"),
        (dict(settings={"dt": [1]}), ValueError, "list"),
        (dict(settings={"timeMode": "Q"}), ValueError, "timeMode"),
        (dict(strategy="noSuchStrategy"), ValueError, "noSuchStrategy"),
        (dict(strategy=Raises()), ZeroDivisionError, "a fault in the strategy"),
        (dict(strategy=ReturnsNaN()), ValueError, "NaN for power"),
        (dict(record=["noSuchVariable"]), ValueError, "noSuchVariable"),
        (dict(constants=folder / "NONE.VAL"), OSError, "NONE.VAL"),
    ]
    for kwargs, error, says in cases:
        with pytest.raises(error, match=says):
            drivanto.run(folder, **{"settings": UDDS, **kwargs})


def test_a_sweep_on_a_dask_cluster_is_the_sweep_in_threads(folder):
    distributed = pytest.importorskip("distributed")
    grid = {"Ttidd": ["UDDS.CYK", "HWFET.CYK"], "strategy": "thermostat,ecms"}
    settings = {"cycleType": "T", "timeMode": "D", "dt": 0.5, "Spara": "0000"}

    def table(rows):
        rows = rows.to_dict("records") if hasattr(rows, "to_dict") else rows
        return sorted(({k: v for k, v in r.items() if k not in ("wallSeconds", "stepsPerSecond")}
                       for r in rows), key=lambda r: r["id"])

    here = table(drivanto.sweep(folder, grid=grid, settings=settings))
    assert len(here) == 4 and all(r["exitCode"] == 0 for r in here)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            there = table(drivanto.sweep(folder, grid=grid, settings=settings, executor=client))
    assert there == here


def test_the_optimum_is_below_the_thermostat(folder):
    o = drivanto.optimum(folder, settings=dict(UDDS, Spara="0000"),
                         schedule=folder / "optimal.csv")
    t = drivanto.run(folder, settings=dict(UDDS, Spara="0000"))
    assert o["forward"]["endReason"] == "mode100"
    assert abs(o["forward"]["chargeBalance"]["endUsedCapacity"] - 58) < 0.5
    assert (o["forward"]["chargeBalance"]["correctedFuel"]
            < t.summary["chargeBalance"]["correctedFuel"])
    assert math.isclose(o["solver"]["fuel"], o["forward"]["fuelUsed"], rel_tol=0.005)
