#!/usr/bin/env python3
"""pcscores computed plainly from the raw files, one site at a time, as an
independent check: python3 pcscores_model.py <same ten arguments>.
Writes the output file in the eigenvector layout (values as %.17g)."""
import math
import re
import sys

NUM = re.compile(r'\s*[+-]?(?:(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?|inf(?:inity)?|nan)', re.I)


def atof(s):
    m = NUM.match(s)
    return float(m.group(0)) if m else 0.0


def lines(path):
    with open(path, newline='\n') as f:
        text = f.read()
    out = text.split('\n')
    if out and out[-1] == '':
        out.pop()
    return out


def field(line, i):
    parts = line.split(',')
    return parts[i] if i < len(parts) else ''


def main(meth, listf, desp, res, label, mode, K, first, last, out):
    K, first, last = int(K), int(first), int(last)
    lam = [atof(l) for l in lines(res + label + '_eigenval.csv')[1:]]
    n = 0
    for l in lines(res + label + '_eigenvec.csv')[1:]:
        if l == '':
            break
        n += 1
    names = [l for l in lines(listf) if l != '']
    acc = [[0.0] * K for _ in names]
    for c in range(first, last + 1):
        des = lines('%sdes_chr%d.csv' % (desp, c))[1:]
        load = lines('%sloadings/%s_loadings_chr%d.csv' % (res, label, c))[1:]
        vals = []
        for s in names:
            v = [atof(field(l, 1)) for l in lines('%schr%d/%s.csv' % (meth, c, s))[1:]]
            assert len(v) == len(des), 'site counts differ'
            vals.append(v)
        for t, d in enumerate(des):
            mean, sd = atof(field(d, 1)), atof(field(d, 2))
            l = [atof(field(load[t], k + 1)) for k in range(K)]
            for j in range(len(names)):
                x = vals[j][t] - mean
                if mode == 'std':
                    x = x / sd if sd > 1e-10 else 0.0
                for k in range(K):
                    acc[j][k] = acc[j][k] + x * l[k]
    with open(out, 'w') as f:
        f.write('""' + ''.join(',"PC%d"' % (k + 1) for k in range(K)) + '\n')
        for j, s in enumerate(names):
            den = [math.sqrt(n - 1) * math.sqrt(lam[k]) for k in range(K)]
            f.write('"%s"' % s + ''.join(',%.17g' % (acc[j][k] / den[k]) for k in range(K)) + '\n')


main(*sys.argv[1:])
