"""A sweep of the ecms factor over two schedules on a Dask cluster (here a
local one of two workers; give a Client of your cluster instead), as a
table, with the optimum of each schedule beside it.

    python3 examples/dask_sweep.py data
"""
import sys

from distributed import Client, LocalCluster

import drivanto

folder = sys.argv[1] if len(sys.argv) > 1 else "data"
settings = {"cycleType": "T", "timeMode": "D", "dt": 0.1, "Spara": "0000", "strategy": "ecms"}
grid = {"Ttidd": ["UDDS.CYK", "HWFET.CYK"], "ecms.factor": "2.4:3.2:0.4"}
if __name__ == "__main__":
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        table = drivanto.sweep(folder, grid=grid, settings=settings, executor=client)
    rows = table.to_dict("records") if hasattr(table, "to_dict") else table
    best = {}
    for cycle in grid["Ttidd"]:
        o = drivanto.optimum(folder, settings=dict(settings, Ttidd=cycle),
                             schedule="optimum-%s.csv" % cycle)
        best[cycle] = o["forward"]["chargeBalance"]["correctedFuelPer100km"]
    print("cycle      factor  l/100 km  above the optimum")
    for r in rows:
        fuel = r["chargeBalance.correctedFuelPer100km"]
        optimum = best[r["set.Ttidd"]]
        print("%-10s %6s  %8.2f  %+6.1f %%" % (r["set.Ttidd"], r["set.ecms.factor"], fuel,
                                                100 * (fuel - optimum) / optimum))
