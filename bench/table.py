#!/usr/bin/env python3
"""Turns the outputs of bench/run.sh into bench/RESULTS.md (written to stdout).

Inputs in the work directory given as the only argument:
  times.json       Google Benchmark JSON with median aggregates
  machine.txt      the machine line
  cg/<name>.out    callgrind outputs, one per profiled benchmark (optional)
"""
import json
import os
import re
import sys
from collections import defaultdict

# Item names of bench/PeerBench.cpp, the DER file each one reads, and how the table calls it.
ITEMS = [
    ("crldp-short-uri", "CRL distribution point, one short URI"),
    ("crldp-several", "CRL distribution points, several points"),
    ("crldp-long-uri", "CRL distribution point, one long URI"),
    ("crldp-all-forms", "CRL distribution points, every name form"),
    ("pkup-notafter", "private-key usage period, notAfter only"),
    ("pkup-both", "private-key usage period, both"),
    ("sc-sha1", "signing certificate, SHA-1"),
    ("sc-sha1-issuer", "signing certificate with issuer and serial"),
    ("scv2-sha256", "signing certificate v2, SHA-256"),
    ("scv2-sha512-issuer", "signing certificate v2, SHA-512 with issuer"),
    ("issuer-sign-tool", "issuer sign tool"),
]
KEY_CALLS = ["ExportKeyTrans", "ImportKeyTrans", "ExportKeyAgree", "ImportKeyAgree"]
TARGET = 0.25


def median_times(path):
    """Benchmark name -> median CPU time in ns."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
    times = {}
    with open(path) as f:
        for b in json.load(f)["benchmarks"]:
            if b.get("aggregate_name", "median") != "median":
                continue
            times[b["run_name"]] = b["cpu_time"] * scale[b.get("time_unit", "ns")]
    return times


class Callgrind:
    """Self costs by (object, function), call counts and inclusive costs of call edges."""

    def __init__(self, path):
        self.total = 0
        self.self_cost = defaultdict(int)
        self.calls = defaultdict(int)
        self.edges = []  # (caller object, callee object, callee function, inclusive Ir)
        names = {"ob": {}, "fn": {}}
        ob = fn = cob = cfn = None
        pending_calls = None
        with open(path, errors="replace") as f:
            for line in f:
                line = line.rstrip("\n")
                m = re.match(r"^(c?)(ob|fn)=\((\d+)\)(?: (.*))?$", line)
                if m:
                    table = names[m.group(2)]
                    if m.group(4) is not None:
                        table[m.group(3)] = m.group(4)
                    value = table.get(m.group(3), "?")
                    if m.group(1):
                        if m.group(2) == "ob":
                            cob = value
                        else:
                            cfn = value
                    elif m.group(2) == "ob":
                        ob = value
                    else:
                        fn, cob = value, None
                    continue
                if line.startswith("calls="):
                    pending_calls = int(line.split("=")[1].split()[0])
                    continue
                if line and (line[0].isdigit() or line[0] in "+-*"):
                    parts = line.split()
                    cost = int(parts[1]) if len(parts) > 1 else 0
                    if pending_calls is not None:
                        self.calls[cfn] += pending_calls
                        self.edges.append((ob, cob or ob, cfn, cost))
                        pending_calls = cob = None
                    else:
                        self.self_cost[(ob, fn)] += cost
                        self.total += cost

    def per_call(self, function_pattern):
        count = sum(n for name, n in self.calls.items() if re.search(function_pattern, name or ""))
        return self.total / count if count else None

    def calls_per_call(self, callee_pattern, function_pattern):
        """Calls of functions matching callee_pattern per call of function_pattern."""
        count = sum(n for name, n in self.calls.items() if re.search(function_pattern, name or ""))
        callee = sum(n for name, n in self.calls.items() if re.search(callee_pattern, name or ""))
        return callee / count if count else None

    def breakdown(self):
        """Shares of the self cost by where the instructions run."""
        groups = defaultdict(int)
        for (ob, fn), cost in self.self_cost.items():
            groups[Category(os.path.basename(ob or ""), fn or "")] += cost
        return {k: v / self.total for k, v in groups.items() if self.total}

    def provider_share(self):
        """Share of the instructions spent inside calls into the provider."""
        inside = sum(cost for caller, callee, _, cost in self.edges
                     if "libkvcsp" in (callee or "") and "libkvcsp" not in (caller or ""))
        return inside / self.total if self.total else None


def Category(obj, fn):
    if re.search(r"malloc|free|calloc|realloc|operator new|operator delete|_int_|tcache", fn):
        return "malloc/free"
    if obj.startswith("libkvasn1rt"):
        return "ASN.1 runtime"
    if obj.startswith("libkvcapi") or obj.startswith("libkvsupport"):
        return "host conversions"
    if obj.startswith("libc") or obj.startswith("ld-linux"):
        return "libc copies"
    if obj.startswith("kvext_bench"):
        return "frame, codec, generated code"
    return "other"


def fmt_ns(v):
    return "–" if v is None else (f"{v:.0f}" if v >= 10 else f"{v:.1f}")


def fmt_ratio(v):
    if v is None:
        return "–"
    return f"**{v:.2f}**" if v <= TARGET else f"{v:.2f}"


def main(work):
    t = median_times(os.path.join(work, "times.json"))
    with open(os.path.join(work, "machine.txt")) as f:
        machine = f.read().strip()
    cg = {}
    cgdir = os.path.join(work, "cg")
    if os.path.isdir(cgdir):
        for name in os.listdir(cgdir):
            cg[name[:-4]] = Callgrind(os.path.join(cgdir, name))

    out = []
    out.append("# Benchmark results")
    out.append("")
    out.append("Regenerated by `bench/run.sh` (see the README); do not edit by hand.")
    out.append("")
    out.append(f"Machine: {machine}")
    out.append("")
    out.append("## Structure codecs beside OpenSSL")
    out.append("")
    out.append("Median CPU time per call in ns over the repetitions of one run. OpenSSL: `d2i_*` "
               "+ `*_free`, `i2d_*` into a new block + `OPENSSL_free`. Ours: `DecodeEx` with "
               "`CRYPT_DECODE_ALLOC_FLAG` + `free`, `EncodeEx` with `CRYPT_ENCODE_ALLOC_FLAG` + "
               "`free`; *buffer* is the same call into a caller buffer of the right size. "
               "Ratio: our time / OpenSSL's; the target is 0.25 or less (bold).")
    out.append("")
    out.append("| item (DER bytes) | memcpy | OpenSSL decode | ours | buffer | ratio | "
               "OpenSSL encode | ours | buffer | ratio |")
    out.append("|---|---|---|---|---|---|---|---|---|---|")
    data_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data")
    for item, label in ITEMS:
        size = os.path.getsize(os.path.join(data_dir, item + ".der"))
        g = lambda side: t.get(f"{item}/{side}")
        dec = g("ours/decode") / g("openssl/decode") if g("openssl/decode") else None
        enc = g("ours/encode") / g("openssl/encode") if g("openssl/encode") else None
        out.append(f"| {label} ({size}) | {fmt_ns(g('memcpy'))} | {fmt_ns(g('openssl/decode'))} | "
                   f"{fmt_ns(g('ours/decode'))} | {fmt_ns(g('ours/decode-buffer'))} | "
                   f"{fmt_ratio(dec)} | {fmt_ns(g('openssl/encode'))} | "
                   f"{fmt_ns(g('ours/encode'))} | {fmt_ns(g('ours/encode-buffer'))} | "
                   f"{fmt_ratio(enc)} |")

    if any(k.startswith("peer-") for k in cg):
        out.append("")
        out.append("## Instructions per call (callgrind)")
        out.append("")
        out.append("Instruction counts do not depend on the load of the machine. Ratio: ours / "
                   "OpenSSL's. Mallocs: calls of malloc, calloc and realloc per call (ours: the "
                   "result block; context memory only when a thread opens a second context or a "
                   "call outgrows the 28 KiB its thread keeps). Where ours go: shares of our "
                   "call's instructions in malloc/free, "
                   "the ASN.1 runtime (platform/asn1rt), the host's conversions (platform/capi, "
                   "platform/support), libc copies and lookups, and the library itself (frame, "
                   "codec, generated ASN.1 code).")
        out.append("")
        out.append("| item | direction | OpenSSL Ir | ours Ir | ratio | OpenSSL mallocs | "
                   "our mallocs | malloc/free | ASN.1 runtime | host conv. | libc | library |")
        out.append("|---|---|---|---|---|---|---|---|---|---|---|---|")
        for item, label in ITEMS:
            for direction, peer_fn, our_fn in (
                ("decode", r"^\(anonymous namespace\)::Peer<.*>::Decode\(", r"^OrvaDll\w+DecodeEx$"),
                ("encode", r"^\(anonymous namespace\)::Peer<.*>::Encode\(", r"^OrvaDll\w+EncodeEx$"),
            ):
                peer = cg.get(f"peer-{item}-{direction}")
                ours = cg.get(f"ours-{item}-{direction}")
                if not peer or not ours:
                    continue
                p, o = peer.per_call(peer_fn), ours.per_call(our_fn)
                b = ours.breakdown()
                share = lambda k: f"{100 * b.get(k, 0):.0f}%"
                ratio = o / p if o and p else None
                allocs = r"^(malloc|calloc|realloc)$"
                pm = peer.calls_per_call(allocs, peer_fn)
                om = ours.calls_per_call(allocs, our_fn)
                out.append(f"| {item} | {direction} | {p:.0f} | {o:.0f} | {fmt_ratio(ratio)} | "
                           f"{pm:.1f} | {om:.1f} | "
                           f"{share('malloc/free')} | {share('ASN.1 runtime')} | "
                           f"{share('host conversions')} | {share('libc copies')} | "
                           f"{share('frame, codec, generated code')} |")

    notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "RESULTS-notes.md")
    if os.path.exists(notes):
        out.append("")
        with open(notes) as f:
            out.append(f.read().rstrip())

    peer_names = {f"{item}/{side}" for item, _ in ITEMS
                  for side in ("memcpy", "openssl/decode", "ours/decode", "ours/decode-buffer",
                               "openssl/encode", "ours/encode", "ours/encode-buffer")}
    others = [name for name in t if name not in peer_names and name.split("/")[0] not in KEY_CALLS]
    if others:
        out.append("")
        out.append("## Other entry points on their own")
        out.append("")
        out.append("Median CPU time per call in ns (allocated results, released each time).")
        out.append("")
        out.append("| benchmark | time (ns) |")
        out.append("|---|---|")
        for name in others:
            out.append(f"| {name} | {fmt_ns(t[name])} |")

    out.append("")
    out.append("## Key management")
    out.append("")
    out.append("Median CPU time per call in µs of the exported key-management functions for the "
               "OpenSSL-made recipients of tests/data/cms. Provider share: the instructions of the "
               "call spent inside the provider (VKO agreement, key wrap, key handles), counted by "
               "callgrind; the rest is the library's own work (ASN.1, checks, blocks).")
    out.append("")
    out.append("| call | recipient | time (µs) | provider share | library share |")
    out.append("|---|---|---|---|---|")
    for call in KEY_CALLS:
        for recipient in ("gost2001_A", "gost2012_256_A", "gost2012_512_A"):
            name = f"{call}/{recipient}"
            v = t.get(name)
            c = cg.get(f"key-{call}-{recipient}")
            share = c.provider_share() if c else None
            provider = "–" if share is None else f"{100 * share:.1f}%"
            library = "–" if share is None else f"{100 * (1 - share):.1f}%"
            out.append(f"| {call} | {recipient} | {'–' if v is None else f'{v / 1e3:.0f}'} | "
                       f"{provider} | {library} |")
    print("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
