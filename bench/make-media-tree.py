#!/usr/bin/env python3
# The media benchmarks' tree: 5,000 files, ~300 MB of deterministic mixed content (text-like,
# code-like with call instructions, incompressible), 20 large files and many small ones.
#   bench/make-media-tree.py FOLDER
import os, random, sys
root = sys.argv[1]
rng = random.Random(2025)
MB = 1 << 20
vocabulary = ["".join(rng.choice("etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9))) for _ in range(5000)]
corpus = " ".join(rng.choices(vocabulary, [1.0 / (i + 1) for i in range(5000)], k=800000)).encode()
pool = [bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 7))) for _ in range(400)]
code_corpus = bytearray()
while len(code_corpus) < 4 * MB:
    code_corpus += (b"\xE8" + rng.randrange(-65536, 65536).to_bytes(4, "little", signed=True)) if rng.random() < 0.1 else rng.choice(pool)
code_corpus = bytes(code_corpus)
def slice_of(corpus, size):
    start = rng.randrange(0, len(corpus) - size) if size < len(corpus) else 0
    return (corpus[start:start + size] * (size // len(corpus) + 1))[:size]
def content(kind, size):
    if kind == 0: return slice_of(corpus, size)
    if kind == 1: return slice_of(code_corpus, size)
    return rng.randbytes(size)
def put(rel, data):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
# 20 large files (~190 MB) and 4,980 small ones (~110 MB): 5,000 files, ~300 MB.
for i in range(20):
    put("big/part%02d.bin" % i, content(i % 3, rng.randint(7 * MB, 12 * MB)))
for i in range(4980):
    size = rng.randint(1024, 43 * 1024)
    put("files/d%03d/f%04d.dat" % (i % 120, i), content(rng.choices((0, 1, 2), (5, 3, 2))[0], size))
