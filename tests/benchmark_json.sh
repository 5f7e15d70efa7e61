#!/usr/bin/env bash
# --benchmark --json prints one JSON object with nine scenes whose figures agree with
# one another; the plain table has a row per scene, the start-up cost and the renderer.
set -u
binary=$1
json=$("$binary" --benchmark --size=160x90 --frames=6 --json) || { echo "--benchmark --json failed"; exit 1; }
python3 - "$json" <<'PY' || exit 1
import json, sys
report = json.loads(sys.argv[1])
for key in ("renderer", "width", "height", "startup_ms", "scenes"):
    assert key in report, f"no {key} in {report}"
assert (report["width"], report["height"]) == (160, 90), report
assert report["renderer"], "empty renderer string"
assert report["startup_ms"] > 0
scenes = report["scenes"]
assert [s["scene"] for s in scenes] == list(range(1, 10)), scenes
assert [s["first_beat"] for s in scenes] == [0, 64, 128, 192, 288, 352, 416, 420, 486]
assert [s["last_beat"] for s in scenes] == [63, 127, 191, 287, 351, 415, 419, 485, 492]
for s in scenes:
    assert 0 < s["median_ms"] <= s["p95_ms"], s
    assert abs(s["fps"] - 1000 / s["median_ms"]) <= 0.01 * s["fps"] + 0.01, s
    assert abs(s["realtime_factor"] - (1000 / 60) / s["median_ms"]) <= 0.01 * s["realtime_factor"] + 0.001, s
print("benchmark JSON: nine scenes,", report["renderer"])
PY
table=$("$binary" --benchmark --size=160x90 --frames=3) || { echo "--benchmark failed"; exit 1; }
echo "$table"
rows=$(echo "$table" | grep -cE '^ +[1-9]  [0-9]+-[0-9]+ ')
[ "$rows" -eq 9 ] || { echo "expected nine scene rows, found $rows"; exit 1; }
echo "$table" | grep -q '^start-up: ' || { echo "no start-up line"; exit 1; }
echo "$table" | grep -q '^renderer: ' || { echo "no renderer line"; exit 1; }
