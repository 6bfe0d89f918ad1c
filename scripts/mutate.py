#!/usr/bin/env python3
"""Mutation runner: applies single-line slips to src/ one at a time, rebuilds the test program of the slip's
folder (dev preset), runs it and reports which slips the tests kill.

    scripts/mutate.py [--root DIR] [--only N,N] [--timeout S]

A slip is killed when the build fails or the test program fails or times out. The source is restored after
every slip, also on Ctrl-C."""
import argparse
import os
import subprocess
import sys
import time

# (file under src/, exact text found once in it, replacement)
SLIPS = [
    # scanner: grouping, names and dates
    ("roadcore/LibraryScanner.cpp", "c >= u'a' && c <= u'z'", "c >= u'a' && c < u'z'"),
    ("roadcore/LibraryScanner.cpp", "const qint64 guess = wallMs - qint64(m_offset) * 1000;",
     "const qint64 guess = wallMs + qint64(m_offset) * 1000;"),
    ("roadcore/LibraryScanner.cpp", 'folder.startsWith(u"cont")', 'folder.startsWith(u"cnt")'),
    ("roadcore/LibraryScanner.cpp", "name + length - dot != 4", "name + length - dot != 5"),
    ("roadcore/ClipOrder.cpp", "newestFirst ? a.date > b.date : a.date < b.date",
     "newestFirst ? a.date < b.date : a.date < b.date"),
    ("roadcore/ClipOrder.cpp", "newestFirst ? byName > 0 : byName < 0", "newestFirst ? byName < 0 : byName < 0"),
    ("roadcore/DashClip.cpp", "cached |= state == StorageState::cached;", "cached |= state == StorageState::moved;"),
    ("roadcore/DashClip.cpp", "if (state == StorageState::missing)", "if (state != StorageState::missing)"),
    # catalog reading and writing, copies and pruning
    ("roadcore/CatalogEntry.cpp", "for (int i = digits - 1; i >= 0; --i, value /= 10)",
     "for (int i = digits - 1; i > 0; --i, value /= 10)"),
    ("roadcore/CatalogEntry.cpp", "(c) >= 0x20 && c != '\"' && c != '\\\\')", "(c) >= 0x20 && c != '\"')"),
    ("roadcore/CatalogEntry.cpp", "(c < u'0' || c > u'9')", "(c < u'0' || c > u'8')"),
    ("roadcore/RecordingModel.cpp", 'stored == QLatin1String("important")', 'stored == QLatin1String("importent")'),
    ("roadcore/MediaCache.cpp", "dot > 0 ? name.left(dot) + suffix", "dot >= 0 ? name.left(dot) + suffix"),
    ("roadcore/MediaCache.cpp", "!feed(size - sampleSize)", "!feed(size - sampleSize - 1)"),
    ("roadcore/MediaCache.cpp", "(!keepingUnavailable || matches(record.originalPath, record))",
     "(keepingUnavailable || matches(record.originalPath, record))"),
    # NMEA parser and time resolution
    ("roadcore/TelemetryParser.cpp", "return c <= 0x20 || c == 0x7F;", "return c < 0x20 || c == 0x7F;"),
    ("roadcore/TelemetryParser.cpp", "s[end - name.size() - 2] == u'G'", "s[end - name.size() - 2] == u'N'"),
    ("roadcore/Telemetry.cpp", "if (delta > 180)", "if (delta > 360)"),
    ("roadcore/Telemetry.cpp", "return double(list.size() - 1) / span;", "return double(list.size()) / span;"),
    ("roadcore/Telemetry.cpp", "gps[i].latitude, gps[i].longitude)", "gps[i].latitude, gps[i - 1].longitude)"),
    ("roadcore/Telemetry.cpp", "/ 1000 - fix.time;", "/ 1000 + fix.time;"),
    ("roadcore/Telemetry.cpp", "if (*i + 1 >= gps.size())", "if (*i + 2 >= gps.size())"),
    # exporters' numbers
    ("roadcore/TelemetryExporter.cpp", "(ms / 60000) % 60", "(ms / 6000) % 60"),
    ("roadcore/TelemetryExporter.cpp", "srtTime(t + 1)", "srtTime(t + 2)"),
    ("roadcore/TelemetryExporter.cpp", "QString::number(i + 1)", "QString::number(i)"),
    # AVI and MP4 walkers
    ("roadcore/AVIFile.cpp", "while (offset + 8 <= to)", "while (offset + 8 < to)"),
    ("roadcore/AVIFile.cpp", 'type == QLatin1String("txts")', 'type == QLatin1String("txtx")'),
    ("roadcore/AVIFile.cpp", "if (end > dataSize && !isList)", "if (end > dataSize)"),
    ("roadcore/MP4Boxes.cpp", "if (secondsFrom1904 == 0 || secondsFrom1904 >", "if (secondsFrom1904 >"),
    ("roadcore/MP4Boxes.cpp", "else if (size64 < 16)", "else if (size64 < 8)"),
    ("roadcore/MP4Boxes.cpp", "(byte >= 0x20 && byte <= 0x7E)", "(byte >= 0x20 && byte < 0x7E)"),
    # configuration file
    ("roadcore/ConfigFile.cpp", "if (equals >= 0)", "if (equals > 0)"),
    ("roadcore/ConfigFile.cpp", "line.key == key && current == section) {", "line.key == key) {"),
    ("roadcore/ConfigFile.cpp", "return c == QLatin1Char('\\t') || c.category()", "return c.category()"),
    # bookmarks
    ("platform/FileBookmark.cpp", "return Resolved{place.path, place.path != madeFor};",
     "return Resolved{place.path, place.path == madeFor};"),
    ("platform/FileBookmark.cpp", "qint64(st.st_size) == c.size;", "true;"),
    # library store: rescan and selection
    ("roadloom/model/LibraryStore.cpp", "if (generation != m_rescanGeneration)",
     "if (generation > m_rescanGeneration)"),
    ("roadloom/model/LibraryStore.cpp", "indexOf(*m_selectedClipID) < 0", "indexOf(*m_selectedClipID) < -1"),
    ("roadloom/model/LibraryStore.cpp", "if (result.fingerprint != m_fingerprint)",
     "if (result.fingerprint == m_fingerprint)"),
    # cache coordinator
    ("roadloom/model/CacheCoordinator.cpp", "job.size + freeSpaceReserve >= *available", "job.size >= *available"),
    ("roadloom/model/CacheCoordinator.cpp", "setCounters(m_completedFiles + 1,", "setCounters(m_completedFiles,"),
    ("roadloom/model/CacheCoordinator.cpp", "if (m_totalBytes < 1)", "if (m_totalBytes < 0)"),
    # player controller: loads and sync
    ("roadloom/model/PlayerController.cpp", "m_currentTime >= m_duration - endMargin",
     "m_currentTime >= m_duration + endMargin"),
    ("roadloom/model/PlayerController.cpp", "time) > driftThreshold)", "time) > 10 * driftThreshold)"),
    ("roadloom/model/PlayerController.cpp", "if (movies->size() > 1)", "if (movies->size() > 2)"),
    ("roadloom/model/PlayerController.cpp", "if (zoom <= 1)", "if (zoom < 1)"),
]

PROGRAMS = {"roadcore": "roadcore_tests", "platform": "platform_tests", "roadloom": "roadloom_model_tests"}


def run_program(build, program, timeout, shards=4):
    """Runs the program in parallel shards; True when every shard passes in time."""
    env = dict(os.environ, GTEST_TOTAL_SHARDS=str(shards))
    procs = []
    for i in range(shards):
        env_i = dict(env, GTEST_SHARD_INDEX=str(i))
        procs.append(subprocess.Popen([os.path.join(build, "tests", program), "--gtest_fail_fast"],
                                      cwd=os.path.join(build, "tests"), env=env_i,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True))
    deadline = time.monotonic() + timeout
    ok = True
    for p in procs:
        try:
            ok = p.wait(max(1, deadline - time.monotonic())) == 0 and ok
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, 9)
            p.wait()
            ok = False
    return ok


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--only", default="")
    parser.add_argument("--timeout", type=int, default=90)
    args = parser.parse_args()
    build = os.path.join(args.root, "build", "dev")
    only = {int(n) for n in args.only.split(",") if n}
    killed, survived, broken = [], [], []
    for number, (rel, old, new) in enumerate(SLIPS, 1):
        if only and number not in only:
            continue
        path = os.path.join(args.root, "src", rel)
        original = open(path, encoding="utf-8").read()
        if original.count(old) != 1:
            broken.append(number)
            print(f"{number:2} SLIP NOT FOUND ONCE  {rel}: {old}", flush=True)
            continue
        program = PROGRAMS[rel.split("/")[0]]
        try:
            open(path, "w", encoding="utf-8").write(original.replace(old, new))
            built = subprocess.run(["cmake", "--build", "--preset", "dev", "-j4", "--target", program],
                                   cwd=args.root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
            caught = not built or not run_program(build, program, args.timeout)
        finally:
            open(path, "w", encoding="utf-8").write(original)
        (killed if caught else survived).append(number)
        how = "killed" if caught else "SURVIVED"
        print(f"{number:2} {how:8} {'(build)' if not built else '':7} {rel}: {old!r} -> {new!r}", flush=True)
    tried = len(killed) + len(survived)
    print(f"kill rate: {len(killed)}/{tried} = {100 * len(killed) / max(tried, 1):.0f}%; survivors: {survived}")
    if broken:
        print(f"slips not found: {broken}")
    subprocess.run(["cmake", "--build", "--preset", "dev", "-j4"] + sum((["--target", p] for p in set(PROGRAMS.values())), []),
                   cwd=args.root, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


if __name__ == "__main__":
    main()
