#!/usr/bin/env python3
"""Plain model of selfgram and crossgram, site by site as the programs are
described: reads the same input files, writes the block files that the program
should write, and prints the zero-SD lines. Used by innerprod_model.sh to check
the programs byte for byte.

usage: innerprod_model.py <workdir> selfgram|crossgram <args...>
"""
import os
import re
import sys

NUM = re.compile(r'\s*([+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf(?:inity)?|nan))', re.I)


def atof(text):
    m = NUM.match(text)
    return float(m.group(1)) if m else 0.0


def atoi(text):
    m = re.match(r'\s*([+-]?\d+)', text)
    return int(m.group(1)) if m else 0


def lines_after_header(path, header=True):
    with open(path, 'rb') as f:
        data = f.read().decode('latin-1')
    parts = data.split('\n')
    if parts and parts[-1] == '':
        parts.pop()  # the empty read after a final line feed
    return parts[1:] if header else parts


def fields(line):
    c = line.split(',')
    if len(c) == 1:
        return line, line
    if len(c) == 2:
        return c[1], c[0]
    if len(c) == 3:
        return c[1], c[2]
    return c[1], c[2]


def block_file(path, m):
    with open(path, 'w') as f:
        for row in m:
            f.write(','.join('%.15e' % v for v in row) + '\n')


def main():
    work, prog, args = sys.argv[1], sys.argv[2], sys.argv[3:]
    os.chdir(work)
    meth, samples, des, out = args[:4]
    first_chr, last_chr = atoi(args[4]), atoi(args[5])
    blocks = [(atoi(args[6]), atoi(args[7]))]
    if prog == 'crossgram':
        blocks.append((atoi(args[8]), atoi(args[9])))
    mean, sd = [], []
    for n in range(first_chr, last_chr + 1):
        for line in lines_after_header('%sdes_chr%d.csv' % (des, n)):
            f2, f3 = fields(line)
            mean.append(atof(f2))
            sd.append(atof(f3))
    names = lines_after_header(samples, header=False)

    def data(first, last):
        cols = []
        for s in range(first, last + 1):
            col = []
            for n in range(first_chr, last_chr + 1):
                for line in lines_after_header('%schr%d/%s.csv' % (meth, n, names[s - 1])):
                    col.append(atof(fields(line)[0]))
            cols.append(col)
        return cols

    rows = data(*blocks[0])
    cols = data(*blocks[-1])
    nr, nc = len(rows), len(cols)
    C = [[0.0] * nc for _ in range(nr)]
    S = [[0.0] * nc for _ in range(nr)]
    copies = 2 if prog == 'crossgram' else 1
    for k in range(len(mean)):
        zero = not (sd[k] > 1e-10)
        if zero:
            for _ in range(copies):
                print(' Standardard deviation of site %d is (very close to) zero: '
                      'Loadings set to zero' % k)
        cr = [rows[i][k] - mean[k] for i in range(nr)]
        cc = [cols[j][k] - mean[k] for j in range(nc)]
        zr = [0.0 if zero else v / sd[k] for v in cr]
        zc = [0.0 if zero else v / sd[k] for v in cc]
        for i in range(nr):
            jend = i + 1 if prog == 'selfgram' else nc
            for j in range(jend):
                C[i][j] += cc[j] * cr[i]
                S[i][j] += zc[j] * zr[i]
    if prog == 'selfgram':
        for i in range(nr):
            for j in range(i + 1, nr):
                C[i][j] = C[j][i]
                S[i][j] = S[j][i]
        tag = '%d.%d_.csv' % blocks[0]
        block_file(out + 'diag_' + tag, C)
        block_file(out + 'diagst_' + tag, S)
    else:
        tag = '%d.%d_%d.%d_.csv' % (blocks[0] + blocks[1])
        block_file(out + 'rect_' + tag, C)
        block_file(out + 'rectst_' + tag, S)


if __name__ == '__main__':
    main()
