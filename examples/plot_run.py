"""A run of the urban schedule as arrays, plotted with matplotlib.

    python3 examples/plot_run.py data        # writes udds-run.png
"""
import sys

import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt

import drivanto

folder = sys.argv[1] if len(sys.argv) > 1 else "data"
r = drivanto.run(folder,
                 settings={"cycleType": "T", "Ttidd": "UDDS.CYK", "timeMode": "D", "dt": 0.1,
                           "Spara": "0000"},
                 record=["ttot", "v", "vCycle", "usedCapacity", "Ila"])
fig, (speed, battery) = plt.subplots(2, 1, figsize=(9, 6), sharex=True)
speed.plot(r["ttot"], r["vCycle"] * 3.6, label="schedule")
speed.plot(r["ttot"], r["v"] * 3.6, label="car")
speed.set_ylabel("speed (km/h)")
speed.legend()
battery.plot(r["ttot"], r["usedCapacity"], color="tab:green")
battery.set_ylabel("used capacity (%s)" % r.units["usedCapacity"])
battery.set_xlabel("time (s)")
charging = battery.twinx()
charging.fill_between(r["ttot"], r["Ila"], step="pre", alpha=0.3, color="tab:orange")
charging.set_ylabel("charging current (A)")
fig.suptitle("UDDS: %.2f l/100 km corrected"
             % r.summary["chargeBalance"]["correctedFuelPer100km"])
fig.savefig("udds-run.png", dpi=100)
print("udds-run.png: %d steps, %.2f l/100 km corrected"
      % (r.summary["steps"], r.summary["chargeBalance"]["correctedFuelPer100km"]))
