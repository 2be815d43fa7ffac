#!/usr/bin/env python3
"""Benchmarks, each measured side by side with a reference in the same run.
Prints one line per comparison: bench <name>: ratio=<ours/theirs> target=<limit>.
Usage: bench/bench.py BUILD_DIR"""
import contextlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
nibtool = os.path.join(build, "host", "nibtool")
top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def best_of(runs, action):
    """The shortest of several timings: the least disturbed by a noisy machine."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    return min(times)


def report(name, ours, theirs, target):
    print(f"bench {name}: ratio={ours / theirs:.3f} target={target}", flush=True)


def converted_page(folder):
    """A converted page: one 2 MB HTML file and 40 images of 20-200 KB."""
    rng = random.Random(7)
    os.makedirs(os.path.join(folder, "notice.files"))
    rows = []
    while sum(len(r) for r in rows) < 2 * 1024 * 1024:
        rows.append(f"<tr><td class=xl{rng.randint(20, 90)}>\u901a\u77e5 {rng.randint(0, 99999)}</td>"
                    f"<td style='width:{rng.randint(10, 300)}pt'>{rng.random():.6f}</td></tr>\r\n")
    with open(os.path.join(folder, "notice.htm"), "w", encoding="gbk") as f:
        f.write("<html><body><table>" + "".join(rows) + "</table></body></html>")
    for i in range(40):
        with open(os.path.join(folder, "notice.files", f"image{i:03}.jpg"), "wb") as f:
            f.write(rng.randbytes(rng.randint(20, 200) * 1024))


def bench_zip(work):
    page = os.path.join(work, "page")
    converted_page(page)
    ours_zip, zip_zip, py_zip = (os.path.join(work, n) for n in ("ours.zip", "zip.zip", "py.zip"))

    def ours():
        subprocess.run([nibtool, "zip", page, ours_zip], check=True, stdout=subprocess.DEVNULL)

    def info_zip():
        if os.path.exists(zip_zip):
            os.remove(zip_zip)
        subprocess.run(["zip", "-6", "-r", "-q", zip_zip, "."], cwd=page, check=True)

    def python_zip():
        with zipfile.ZipFile(py_zip, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
            for folder, _, files in os.walk(page):
                for name in sorted(files):
                    path = os.path.join(folder, name)
                    z.write(path, os.path.relpath(path, page))

    t_ours, t_zip, t_py = best_of(5, ours), best_of(5, info_zip), best_of(5, python_zip)
    report("zip_time_vs_zip", t_ours, t_zip, 1.1)
    report("zip_size_vs_zip", os.path.getsize(ours_zip), os.path.getsize(zip_zip), 1.01)
    report("zip_time_vs_python", t_ours, t_py, 1.1)
    report("zip_size_vs_python", os.path.getsize(ours_zip), os.path.getsize(py_zip), 1.01)


def bench_gb2big5(work):
    text = os.path.join(work, "gb.txt")
    rng = random.Random(3)
    chars = [bytes([r, c]) for r in range(0xB0, 0xD7) for c in range(0xA1, 0xFF)] + [b"\xa1\xa3", b"\r\n", b"OK:12 "]
    with open(text, "wb") as f:
        block = b"".join(rng.choice(chars) for _ in range(1 << 20))
        for _ in range(25):  # 50 MB
            f.write(block)
    out = os.path.join(work, "big5.txt")

    def ours():
        with open(text, "rb") as src, open(out, "wb") as dst:
            subprocess.run([nibtool, "gb2big5"], stdin=src, stdout=dst, check=True)

    def iconv():
        subprocess.run(f"iconv -c -f GB2312 -t UTF-8 < {text} | iconv -c -f UTF-8 -t BIG5 > {out}", shell=True, check=True)

    # Time ratio: at most 1/3 means at least three times iconv's throughput.
    report("gb2big5_time_vs_iconv", best_of(3, ours), best_of(3, iconv), 0.333)


def bench_delay():
    """CPU time of a 2 s DelayWithMessages under Wine, against the wall time."""
    result = wine_program("delay_bench.exe")
    try:
        fields = dict(part.split("=") for part in result.stdout.split())
        report("delay_cpu_vs_wall", float(fields["cpu_ms"]), float(fields["wall_ms"]), 0.02)
    except (KeyError, ValueError):
        print(f"bench delay_cpu_vs_wall: not measured ({result.stdout.strip()} {result.stderr.strip()})")


def wine_program(name, *args, register=()):
    env = dict(os.environ)
    env.pop("LC_ALL", None)
    registers = [arg for server in register for arg in ("--register", os.path.join(build, "win64", server))]
    return subprocess.run([os.path.join(top, "tools", "wine-run"), "--prefix", os.path.join(build, "win64", "wineprefix"),
                           *registers, os.path.join(build, "win64", "bench", name), *args],
                          capture_output=True, text=True, env=env, check=False)


@contextlib.contextmanager
def document_server(folder):
    """The tests' document server in `folder`; yields its base address."""
    fixture = os.path.join(top, "tests", "server", "fixture.sh")
    subprocess.run([fixture, "start", folder], check=True)
    try:
        with open(os.path.join(folder, "port")) as f:
            yield f"http://127.0.0.1:{f.read().strip()}"
    finally:
        subprocess.run([fixture, "stop", folder], check=False)


def bench_upload(work):
    """A 10 MB upload over loopback, ours against curl; memory at 10 and 100 MB."""
    with document_server(os.path.join(work, "server")) as base:
        url = base + "/upload?reply=OK"
        files = {}
        for megabytes in (10, 100):
            files[megabytes] = os.path.join(work, f"upload{megabytes}.Qoz")
            with open(files[megabytes], "wb") as f:
                f.write(random.Random(megabytes).randbytes(megabytes * 1024 * 1024))
        windows_file = lambda path: "Z:" + path.replace("/", "\\")

        def ours(megabytes):
            result = wine_program("upload_bench.exe", url + f"&id=ours{megabytes}", windows_file(files[megabytes]))
            fields = dict(part.split("=") for part in result.stdout.split())
            if fields.get("delivered") != "1":
                raise RuntimeError(f"upload failed: {result.stdout} {result.stderr}")
            return float(fields["seconds"]), int(fields["peak_kb"])

        # Like with like: ours is timed inside its process, from the request to
        # the reply, so curl's transfer is timed the same way (its own
        # time_total), not curl's whole process with its start-up.
        def curl():
            result = subprocess.run(["curl", "-s", "-o", "/dev/null", "-w", "%{time_total}", "--data-binary",
                                     "@" + files[10], "-H", "Content-Type: text/html", url + "&id=curl"],
                                    check=True, capture_output=True, text=True)
            return float(result.stdout.strip())

        ours_time = min(ours(10)[0] for _ in range(3))
        report("upload_10mb_time_vs_curl", ours_time, min(curl() for _ in range(3)), 1.2)
        report("upload_peak_memory_100mb_vs_10mb", ours(100)[1], ours(10)[1], 1.2)


def bench_cycle(work):
    """What the clerk waits for against the work it takes: the unattended cycle against the sum of
    its parts, 套用模板 against its Word calls, 保存并关闭 against its save, conversion, pack and upload."""
    server = os.path.join(work, "cycle-server")
    with document_server(server) as base:
        with open(os.path.join(server, "files", "bench.doc"), "w", encoding="utf-8") as f:
            f.write('<?xml version="1.0" encoding="utf-8"?>\n<nibdoc><text>' + "通知 " * 2000 +
                    "</text></nibdoc>\n")
        with open(os.path.join(server, "files", "bench-template.doc"), "w", encoding="utf-8") as f:
            f.write('<?xml version="1.0" encoding="utf-8"?>\n<nibdoc><text>RED HEADER\r[\r\r]\rFOOTER</text>'
                    '<bookmark name="正文内容B" start="11" end="12"/><bookmark name="正文内容E" start="14" end="15"/>'
                    '</nibdoc>\n')
        folder = os.path.join(work, "cycle")
        os.makedirs(folder)
        result = wine_program("cycle_bench.exe", base, "bench.doc", "bench-template.doc", "Z:" + folder.replace("/", "\\"),
                              register=["NibWordLib.dll", "office-double.exe"])
        fields = dict(part.split("=", 1) for part in result.stdout.split() if "=" in part)
        try:
            parts = sum(float(fields[k]) for k in ("download", "word", "pack", "upload"))
            print("cycle: " + " ".join(f"{k}={fields[k]}s" for k in ("download", "word", "pack", "upload", "whole",
                                                                      "template_calls", "template_clerk",
                                                                      "save_calls", "save_clerk")) +
                  f" result={fields['result']}", flush=True)
            report("cycle_whole_vs_parts", float(fields["whole"]), parts, 2.0)
            report("template_apply_vs_calls", float(fields["template_clerk"]), float(fields["template_calls"]), 2.0)
            report("save_and_close_vs_parts", float(fields["save_clerk"]), float(fields["save_calls"]), 2.0)
        except (KeyError, ValueError):
            print(f"bench cycle_whole_vs_parts: not measured ({result.stdout.strip()} {result.stderr.strip()})")


def main():
    work = tempfile.mkdtemp(prefix="nib-bench-")
    try:
        bench_zip(work)
        bench_gb2big5(work)
        bench_upload(work)
        bench_cycle(work)
    finally:
        shutil.rmtree(work)
    bench_delay()


if __name__ == "__main__":
    main()
