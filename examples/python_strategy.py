"""A strategy written in Python: the engine follows the driver's demand in
steps of 5 kW, each at its best engine speed, and leans on the battery's
distance from where it began; compared with the car's own thermostat.

    python3 examples/python_strategy.py data
"""
import sys

import drivanto


class StepFollower(drivanto.Strategy):
    name = "stepFollower"

    def __init__(self, step=5000.0, gain=4000.0):
        self.step, self.gain = step, gain
        self.target = None  # taken from the run's start, kept in snapshots

    def parameters(self):
        return {"step": self.step, "gain": self.gain}

    def decide(self, inputs, car):
        if self.target is None:
            self.target = inputs.used_capacity
        want = inputs.traction_power + inputs.aux_power
        want += self.gain * (inputs.used_capacity - self.target)
        power = round(want / self.step) * self.step
        if power <= 0:
            return drivanto.Decision(False)
        power = min(power, 30000.0)
        return drivanto.Decision(True, power=power, speed=car.best_speed(power))

    def state(self):
        return [] if self.target is None else [self.target]

    def load_state(self, values):
        self.target = values[0] if values else None


folder = sys.argv[1] if len(sys.argv) > 1 else "data"
settings = {"cycleType": "T", "Ttidd": "UDDS.CYK", "timeMode": "D", "dt": 0.1, "Spara": "0000"}
for strategy in (None, StepFollower()):
    r = drivanto.run(folder, settings=settings, strategy=strategy)
    b = r.summary["chargeBalance"]
    print("%-12s %.2f l/100 km corrected, %d starts, ends at %.1f %% used"
          % (r.summary["strategy"], b["correctedFuelPer100km"], r.summary["engineStarts"],
             b["endUsedCapacity"]))
