"""Leave-one-set-out choice among enhancement variants.

usage: loso.py LAB_OUTPUT [--metric F] [--allowed VARIANTS_FILE]

LAB_OUTPUT holds the lines printed by enhance-lab (variant, set, id, P, R, F, DRD,
threshold, noise, seconds, failed). For each set, the variant with the best mean
metric over the pages of the other sets is chosen and scored on the held-out set;
the mean of those held-out set means is printed beside the plain mean (the variant
chosen on all sets, scored on all sets, as a mean of set means). Variants missing
a page are left out. --allowed restricts the choice to the variants listed in a
file (one per line), e.g. those that pass the class-page targets.
"""
import argparse
import collections
import sys

COLUMNS = {"P": 3, "R": 4, "F": 5, "DRD": 6}


def read(path, metric):
    scores = collections.defaultdict(dict)  # variant -> (set, id) -> value
    for line in open(path, encoding="utf-8"):
        fields = line.rstrip("\n").split("\t")
        if len(fields) < 11:
            continue
        scores[fields[0]][(fields[1], fields[2])] = float(fields[COLUMNS[metric]])
    return scores


def set_means(values, sets):
    return {s: sum(v for (vs, _), v in values.items() if vs == s) /
            sum(1 for (vs, _) in values if vs == s) for s in sets}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("lab_output")
    parser.add_argument("--metric", default="F", choices=sorted(COLUMNS))
    parser.add_argument("--allowed", default="")
    args = parser.parse_args()
    better = min if args.metric == "DRD" else max
    scores = read(args.lab_output, args.metric)
    pages = set.union(*(set(v) for v in scores.values()))
    variants = [v for v in scores if set(scores[v]) == pages]
    if args.allowed:
        allowed = {line.strip() for line in open(args.allowed, encoding="utf-8")}
        variants = [v for v in variants if v in allowed]
    if not variants:
        sys.exit("loso.py: no variant covers every page")
    sets = sorted({s for s, _ in pages})

    def page_mean(variant, keep):
        values = [v for (s, _), v in scores[variant].items() if keep(s)]
        return sum(values) / len(values)

    print("%-60s %s  page-mean  set-mean" % ("variant", " ".join("%9s" % s[:9] for s in sets)))
    for variant in sorted(variants, key=lambda v: -page_mean(v, lambda s: True)):
        means = set_means(scores[variant], sets)
        print("%-60s %s  %8.2f  %8.2f" % (variant[:60], " ".join("%9.2f" % means[s] for s in sets),
                                         page_mean(variant, lambda s: True),
                                         sum(means.values()) / len(sets)))
    print()
    held_out = []
    for s in sets:
        chosen = better(variants, key=lambda v: page_mean(v, lambda t: t != s))
        score = set_means(scores[chosen], sets)[s]
        held_out.append(score)
        print("held out %-11s chosen %-50s %s %.2f" % (s, chosen[:50], args.metric, score))
    overall = better(variants, key=lambda v: page_mean(v, lambda s: True))
    plain = set_means(scores[overall], sets)
    print("leave-one-set-out mean of set means: %.2f" % (sum(held_out) / len(sets)))
    print("plain mean of set means (%s): %.2f" % (overall, sum(plain.values()) / len(sets)))


if __name__ == "__main__":
    main()
