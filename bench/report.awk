# Turns run.sh's measurements into the results table and the goal check.
#
# Input, one measurement a line, tab-separated: ENTRIES, SECTION (enum, build, phase,
# query, row, memory; check: a query's count against the straightforward algorithm's,
# NOTE "same" or both counts), LABEL, NOTE (a count, or empty), VALUES (seconds or bytes,
# space-separated; empty for a measurement that could not be taken), PROCESSOR (the
# processor time of each run in seconds, all threads and children; may be empty). A query label is
# 'KEYWORD|TOOL' for a peer and 'KEYWORD' for Orva; a build label names the tool.
#
# Output: one markdown table, rows grouped by volume and by work, each with its median,
# range, processor time, note and ratio to the best peer of the same work on the same
# volume by the wall clock (the
# fastest of find, fd, fls, updatedb for a build; of grep and plocate for a query);
# then, for the largest volume, the goals and whether this run meets them.
BEGIN { FS = "\t" }

# The median of the numbers in `text`, or "" when it has none; they are left sorted in
# v[1..nv].
function median(text) {
    nv = split(text, v, " ")
    sortvalues(nv)
    if (nv == 0) return ""
    return nv % 2 ? v[(nv + 1) / 2] : (v[nv / 2] + v[nv / 2 + 1]) / 2
}
function sortvalues(n,    i, j, t) {
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
}
function seconds(t) {
    if (t < 0.001) return sprintf("%.0f µs", t * 1e6)
    if (t < 0.01) return sprintf("%.2f ms", t * 1e3)
    if (t < 1) return sprintf("%.1f ms", t * 1e3)
    return sprintf("%.2f s", t)
}
function ratio(r) {
    if (r == "") return "—"
    if (r < 1) return sprintf("%.3f (%.1fx faster)", r, 1 / r)
    return sprintf("%.2f", r)
}
function mark(ok) { return ok ? "met" : "**missed**" }

$2 == "check" {
    checks[$1]++
    if ($4 != "same") { wrong[$1]++; wrongs[$1] = wrongs[$1] (wrongs[$1] ? "; " : "") $3 ": " $4 }
    next
}

{
    n++
    size[n] = $1; section[n] = $2; label[n] = $3; note[n] = $4
    cpu[n] = median($6)
    med[n] = median($5)
    has[n] = med[n] != ""
    if (has[n]) { lo[n] = v[1]; hi[n] = v[nv] }
    peer[n] = 0
    tool[n] = label[n]
    if (section[n] == "enum" || section[n] == "build") {
        work[n] = "Index build"
        if (section[n] == "enum") tool[n] = "floor: " label[n]
        else if (label[n] == "CreateDatabase" || label[n] == "AddVolume") tool[n] = "Orva " label[n]
        peer[n] = label[n] ~ /^(find|fd|fls|updatedb)/
        rank[n] = 1
    } else if (section[n] == "phase") {
        work[n] = "Build phase (Perf.log)"; rank[n] = 2
    } else if (section[n] == "query") {
        bar = index(label[n], "|")
        work[n] = "Query " (bar ? substr(label[n], 1, bar - 1) : label[n])
        tool[n] = bar ? substr(label[n], bar + 1) : "Orva Query"
        peer[n] = bar > 0
        rank[n] = 3
    } else if (section[n] == "row") {
        work[n] = "Row fetch"; tool[n] = "Orva " label[n]; rank[n] = 4
    } else {
        work[n] = "Resident memory"; rank[n] = 5
    }
    if (!(size[n] in seen)) { seen[size[n]] = 1; sizes[++nsizes] = size[n] }
    key = size[n] SUBSEP work[n]
    if (!(key in workseen)) { workseen[key] = 1; works[size[n], ++nworks[size[n]]] = work[n]; workrank[key] = rank[n] }
    if (peer[n] && has[n] && (!(key in best) || med[n] < best[key])) best[key] = med[n]
    if (section[n] == "build" && label[n] == "CreateDatabase") items[size[n]] = note[n]
}

function row(i,    key, figure, range, r) {
    key = size[i] SUBSEP work[i]
    if (!has[i]) {
        printf "| %s | %s | %s | not measured | | | | |\n", size[i], work[i], tool[i]
        return
    }
    if (section[i] == "memory") {
        figure = sprintf("%.1f MB", med[i] / 1e6)
        if (label[i] !~ /before/ && items[size[i]] > 0) figure = figure sprintf(" = %.1f B/entry", med[i] / items[size[i]])
        printf "| %s | %s | %s | %s | | | | |\n", size[i], work[i], tool[i], figure
        return
    }
    range = seconds(lo[i]) " – " seconds(hi[i])
    # AddVolume is no build: it only registers the volume.
    r = (section[i] != "phase" && section[i] != "row" && label[i] != "AddVolume" && (key in best)) ? med[i] / best[key] : ""
    printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", size[i], work[i], tool[i], seconds(med[i]), range,
        cpu[i] == "" ? "" : seconds(cpu[i]), note[i], ratio(r)
}

END {
    print "| Entries | Work | Tool | Median | Range | Processor | Count | Ratio to best peer |"
    print "|---:|---|---|---:|---|---:|---:|---|"
    for (s = 1; s <= nsizes; s++)
        for (r = 1; r <= 5; r++)
            for (w = 1; w <= nworks[sizes[s]]; w++) {
                if (workrank[sizes[s], works[sizes[s], w]] != r) continue
                for (i = 1; i <= n; i++)
                    if (size[i] == sizes[s] && work[i] == works[sizes[s], w]) row(i)
            }

    big = sizes[nsizes]
    for (i = 1; i <= n; i++) {
        if (size[i] != big || !has[i]) continue
        if (section[i] == "build" && label[i] == "CreateDatabase") build = med[i]
        if (section[i] == "enum") floor_ = med[i]
        if (label[i] == "find (warm ntfs-3g mount)") find_ = med[i]
        if (label[i] == "fls -r -p") fls = med[i]
        if (label[i] == "resident growth, build + all-entries query") memory = med[i]
        if (section[i] == "query" && peer[i] && tool[i] ~ /^grep/) grep_[work[i]] = med[i]
        if (section[i] == "query" && !peer[i]) { orva[work[i]] = med[i]; queries[++nq] = work[i] }
    }
    printf "\nGoals at %s entries, from this run:\n\n", big
    if (build != "") {
        printf "- Index build at most 0.5 s: %s, %s.\n", seconds(build), mark(build <= 0.5)
        if (find_ != "") printf "- At least 20x faster than find on the warm mount: %.1fx, %s.\n", find_ / build, mark(find_ / build >= 20)
        else print "- At least 20x faster than find on the warm mount: not measured (no ntfs-3g mount)."
        if (fls != "") printf "- At least 50x faster than fls -r -p: %.1fx, %s.\n", fls / build, mark(fls / build >= 50)
        if (floor_ != "") printf "- At most 5x the enumeration floor: %.1fx, %s.\n", build / floor_, mark(build <= 5 * floor_)
    }
    slowest = 0; beaten = 0
    for (q = 1; q <= nq; q++) {
        if (orva[queries[q]] > slowest) { slowest = orva[queries[q]]; slowname = queries[q] }
        if (queries[q] in grep_ && orva[queries[q]] > grep_[queries[q]]) { beaten++; lost = lost (lost ? ", " : "") substr(queries[q], 7) }
    }
    if (nq > 0) {
        printf "- Every query at most 10 ms: slowest %s (%s), %s.\n", seconds(slowest), substr(slowname, 7), mark(slowest <= 0.01)
        printf "- Every query no slower than grep -F -i -c: %s.\n", beaten ? "**missed** for " beaten " of " nq " (" lost ")" : "met"
    }
    if (checks[big] > 0)
        printf "- Every query's count equals StrStrIW's over every name: %s.\n", wrong[big] ? "**missed** (" wrongs[big] ")" : "met"
    if (memory != "" && items[big] > 0)
        printf "- At most 50 bytes resident per entry (after the build and an all-entries query): %.1f, %s.\n", memory / items[big], mark(memory / items[big] <= 50)
}
