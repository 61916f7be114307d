// Checks that jetdump reads one .mdb file the way two independent readers do:
//   - the user tables: `jetdump FILE`, mdb-reader's getTableNames() and `mdb-tables -1`
//     (as sets);
//   - every user table's rows: `jetdump --json FILE TABLE` against mdb-reader's getData(),
//     as multisets of rows, with mdb-reader's values brought into jetdump's JSON forms;
//   - every user table's rows against what `mdb-export` prints: the number of records,
//     and the records themselves as multisets, with jetdump's values printed the way
//     mdbtools prints them.
// Where one reader is known to read a value wrong, the case is listed in known_faults.mjs,
// narrowed to file, table and column, and the other reader or the documented Access rule
// decides; each use of such an entry is printed.
//
// usage: node compare.mjs --jetdump PATH [--name SHOWN_NAME] FILE.mdb
// exit: 0 all agree, 1 a disagreement or an error, 77 skipped (a reader is missing),
// except under REQUIRE_SHARED=1, where a missing reader fails.

import { spawnSync } from "node:child_process";
import { readFileSync } from "node:fs";
import { basename } from "node:path";

import { parseCsv } from "./csv.mjs";
import { cFormatG, dateTimeForm } from "./forms.mjs";
import { KNOWN_FAULTS, knownFaultsFor } from "./known_faults.mjs";

process.env.TZ = "UTC";

const SKIP = 77;
const MAX_SHOWN = 5;
// mdb-export's date format, chosen to match jetdump's.
const EXPORT_DATE_FORMAT = "%Y-%m-%dT%H:%M:%S";

function parseArgs(argv) {
  const out = { jetdump: null, name: null, file: null };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === "--jetdump") out.jetdump = argv[++i];
    else if (argv[i] === "--name") out.name = argv[++i];
    else out.file = argv[i];
  }
  if (!out.jetdump || !out.file) {
    console.error("usage: node compare.mjs --jetdump PATH [--name SHOWN_NAME] FILE.mdb");
    process.exit(2);
  }
  out.name ??= basename(out.file);
  return out;
}

function skipOrFail(reason) {
  if (process.env.REQUIRE_SHARED === "1") {
    console.log(`FAIL: ${reason} (REQUIRE_SHARED=1, so this cannot be skipped)`);
    process.exit(1);
  }
  console.log(`SKIPPED: ${reason}`);
  process.exit(SKIP);
}

function run(cmd, args) {
  const r = spawnSync(cmd, args, { encoding: "utf8", maxBuffer: 1 << 30 });
  if (r.error) throw new Error(`${cmd}: ${r.error.message}`);
  if (r.status !== 0) {
    throw new Error(`${cmd} ${args.join(" ")} exited ${r.status}: ${r.stderr.trim()}`);
  }
  return r.stdout;
}

const lines = (text) => text.split("\n").filter((l) => l.length > 0);
const sorted = (a) => [...a].sort();
const sameSet = (a, b) => JSON.stringify(sorted(a)) === JSON.stringify(sorted(b));
// JSON objects list integer-like keys first; only then is the key order not jetdump's.
const sameList = (a, b) =>
  b.some((n) => /^(0|[1-9][0-9]*)$/.test(n))
    ? sameSet(a, b)
    : JSON.stringify(a) === JSON.stringify(b);

// JSON, with control characters and U+FFFD escaped so that they show.
function show(v) {
  return JSON.stringify(v).replace(
    /[\u0000-\u001f\u007f-\u009f\ufffd]/g,
    (ch) => "\\u" + ch.charCodeAt(0).toString(16).padStart(4, "0"),
  );
}

function nonFiniteAsText(x) {
  if (Number.isNaN(x)) return "NaN";
  if (x === Infinity) return "Infinity";
  if (x === -Infinity) return "-Infinity";
  return x;
}

// ---- jetdump's values

// A Single is printed as the shortest decimal that rounds to the float, so Math.fround
// gives back the float that the other readers hold.
function ourValue(v, column) {
  if (column.type === "float" && typeof v === "number") return Math.fround(v);
  return v;
}

// ---- mdb-reader's values in jetdump's JSON form

function readerValue(v, column) {
  if (v === null || v === undefined) return null;
  switch (column.type) {
    case "byte":
    case "integer":
    case "long":
    case "float":
    case "double":
      return nonFiniteAsText(v);
    case "datetime":
      return dateTimeForm(v.getTime());
    case "binary":
    case "ole":
      return Buffer.from(v).toString("hex");
    case "repid":
      return `{${v.toUpperCase()}}`;
    default:
      // boolean, currency and numeric (decimal strings), text and memo
      return v;
  }
}

// ---- jetdump's values the way mdb-export prints them (null for an empty unquoted field)

const guidDigits = (s) => s.replace(/[{}-]/g, "").toUpperCase();

function exportFormOfOurs(v, column) {
  if (column.type === "boolean") return v ? "1" : "0";
  if (v === null) return null;
  switch (column.type) {
    case "float":
      return typeof v === "number" ? cFormatG(v, 8) : v;
    case "double":
      return typeof v === "number" ? cFormatG(v, 16) : v;
    case "byte":
    case "integer":
    case "long":
      return String(v);
    case "binary":
    case "ole":
      return v.toUpperCase();
    case "repid":
      // mdbtools prints the GUID without its fourth dash; only the digits are compared.
      return guidDigits(v);
    case "text":
    case "memo":
      // mdb-export prints a zero-length value as it prints NULL, an empty field; mdb-reader
      // tells them apart and is compared above.
      return v === "" ? null : v;
    default:
      return v;
  }
}

function exportFormOfTheirs(field, column) {
  if (!field.quoted && field.text === "") return null;
  if (column.type === "repid") {
    // with -b hex, mdb-export prints the GUID's text in hex
    const text = /^([0-9A-F]{2})+$/.test(field.text)
      ? Buffer.from(field.text, "hex").toString("latin1")
      : field.text;
    return guidDigits(text);
  }
  return field.text;
}

// ---- comparing multisets of rows

function multisetDiff(ours, theirs) {
  const left = new Map();
  for (const r of ours) left.set(r.key, (left.get(r.key) ?? 0) + 1);
  for (const r of theirs) left.set(r.key, (left.get(r.key) ?? 0) - 1);
  const onlyOurs = [];
  const onlyTheirs = [];
  for (const r of ours) {
    const n = left.get(r.key);
    if (n > 0) {
      onlyOurs.push(r);
      left.set(r.key, n - 1);
    }
  }
  for (const r of theirs) {
    const n = left.get(r.key);
    if (n < 0) {
      onlyTheirs.push(r);
      left.set(r.key, n + 1);
    }
  }
  return { onlyOurs, onlyTheirs };
}

function closest(row, candidates) {
  let best = null;
  let bestScore = -1;
  for (const cand of candidates) {
    let score = 0;
    for (let i = 0; i < row.length; i++) if (show(row[i]) === show(cand.values[i])) score++;
    if (score > bestScore) {
      best = cand;
      bestScore = score;
    }
  }
  return best;
}

const describeRow = (values, columns) =>
  columns.map((c, i) => `${c.name}=${show(values[i])}`).join(", ");

// A failure message naming the first rows that only one side has, or null if they agree.
function rowDiffReport(table, other, columns, ours, theirs) {
  const { onlyOurs, onlyTheirs } = multisetDiff(ours, theirs);
  if (!onlyOurs.length && !onlyTheirs.length) return null;
  const pad = " ".repeat(Math.max(0, other.length - "jetdump".length));
  const msg = [
    `${table}: rows differ from ${other} ` +
      `(jetdump ${ours.length} rows, ${other} ${theirs.length}; ` +
      `${onlyOurs.length} only in jetdump, ${onlyTheirs.length} only in ${other})`,
  ];
  for (const r of onlyOurs.slice(0, MAX_SHOWN)) {
    msg.push(`    only jetdump: ${pad}${describeRow(r.values, columns)}`);
    const near = closest(r.values, onlyTheirs);
    if (near) {
      const diffs = columns
        .map((c, i) => [c, r.values[i], near.values[i]])
        .filter(([, a, b]) => show(a) !== show(b))
        .map(([c, a, b]) => `${c.name} (${c.type}): jetdump ${show(a)}, ${other} ${show(b)}`);
      msg.push(`      nearest ${other} row differs in ${diffs.join("; ")}`);
    }
  }
  for (const r of onlyTheirs.slice(0, MAX_SHOWN)) {
    msg.push(`    only ${other}: ${describeRow(r.values, columns)}`);
  }
  return msg.join("\n");
}

// ---- the comparison of one file

function compareFile(MDBReader, args) {
  const failures = [];
  const fail = (msg) => failures.push(msg);
  const notes = new Map();
  const used = new Set();

  // Records one use of a known fault; the output shows a count and two examples.
  const useFault = (k, table, column, what) => {
    used.add(k);
    const key = `${table}.${column.name}: known fault of ${k.reader} (${k.id}): ${k.why}`;
    const n = notes.get(key) ?? { count: 0, examples: [] };
    n.count++;
    if (n.examples.length < 2) n.examples.push(what);
    notes.set(key, n);
  };

  // Applies the known faults of `reader` to one value of each side.
  const faultsOf = (reader, table, columns) => {
    const perColumn = columns.map((c) =>
      knownFaultsFor(args.name, table, c.name).filter((k) => k.reader === reader),
    );
    return {
      ours(i, v) {
        for (const k of perColumn[i]) {
          if (!k.ours) continue;
          const masked = k.ours(v);
          if (masked !== v) {
            const what = `jetdump's ${show(v)} compared as ${show(masked)}`;
            useFault(k, table, columns[i], `${what}; decided by ${k.decidedBy}`);
            v = masked;
          }
        }
        return v;
      },
      theirs(i, raw, plain) {
        const k = perColumn[i].find((f) => f.applies && f.applies(raw));
        if (!k) return plain(raw);
        const fixed = k.theirs(raw);
        if (show(fixed) !== show(plain(raw))) {
          const what = `it read ${show(plain(raw))}, ${k.decidedBy} gives ${show(fixed)}`;
          useFault(k, table, columns[i], what);
        }
        return fixed;
      },
    };
  };

  console.log(`file ${args.name}`);
  const reader = new MDBReader(readFileSync(args.file));

  // ---- table lists
  const ourTables = lines(run(args.jetdump, [args.file])).map((s) => s.normalize("NFC"));
  const readerTables = reader.getTableNames().map((s) => s.normalize("NFC"));
  const mdbTables = lines(run("mdb-tables", ["-1", args.file])).map((s) => s.normalize("NFC"));
  if (new Set(ourTables).size !== ourTables.length) {
    fail(`jetdump lists a table twice: ${show(ourTables)}`);
  }
  if (!sameSet(ourTables, readerTables)) {
    fail(`table list: jetdump ${show(sorted(ourTables))}, ` +
      `mdb-reader ${show(sorted(readerTables))}`);
  }
  if (!sameSet(ourTables, mdbTables)) {
    fail(`table list: jetdump ${show(sorted(ourTables))}, mdb-tables ${show(sorted(mdbTables))}`);
  }
  console.log(`  ${ourTables.length} user tables`);

  for (const table of ourTables) {
    if (!readerTables.includes(table)) continue;
    let columns;
    let readerRows;
    try {
      const t = reader.getTable(table);
      columns = t.getColumns();
      readerRows = t.getData();
    } catch (e) {
      fail(`${table}: mdb-reader cannot read it: ${e.message}`);
      continue;
    }
    const names = columns.map((c) => c.name);

    let ourRows;
    try {
      ourRows = lines(run(args.jetdump, ["--json", args.file, table])).map((l) => JSON.parse(l));
    } catch (e) {
      fail(`${table}: ${e.message}`);
      continue;
    }
    const badKeys = ourRows.find((o) => !sameList(Object.keys(o), names));
    if (badKeys) {
      fail(`${table}: columns: jetdump ${show(Object.keys(badKeys))}, mdb-reader ${show(names)}`);
      continue;
    }

    // ---- against mdb-reader
    {
      const f = faultsOf("mdb-reader", table, columns);
      const ours = ourRows.map((o) => {
        const values = columns.map((c, i) => f.ours(i, ourValue(o[c.name], c)));
        return { values, key: JSON.stringify(values) };
      });
      const theirs = readerRows.map((row) => {
        const values = columns.map((c, i) =>
          f.theirs(i, row[c.name], (raw) => readerValue(raw, c)),
        );
        return { values, key: JSON.stringify(values) };
      });
      const report = rowDiffReport(table, "mdb-reader", columns, ours, theirs);
      if (report) fail(report);
    }

    // ---- against mdb-export
    let records;
    try {
      const csv = run("mdb-export", [
        "-b", "hex", "-D", EXPORT_DATE_FORMAT, "-T", EXPORT_DATE_FORMAT, args.file, table,
      ]);
      records = parseCsv(csv);
    } catch (e) {
      fail(`${table}: mdb-export: ${e.message}`);
      continue;
    }
    const header = (records.shift() ?? []).map((f) => f.text);
    if (!sameSet(header, names)) {
      fail(`${table}: mdb-export's header ${show(header)}, mdb-reader's columns ${show(names)}`);
      continue;
    }
    const ragged = records.findIndex((r) => r.length !== header.length);
    if (ragged >= 0) {
      fail(`${table}: mdb-export record ${ragged + 1} has ${records[ragged].length} fields, ` +
        `its header ${header.length}`);
      continue;
    }
    if (records.length !== ourRows.length) {
      fail(`${table}: row count: jetdump ${ourRows.length}, mdb-export ${records.length}`);
    }
    {
      const f = faultsOf("mdbtools", table, columns);
      const at = columns.map((c) => header.indexOf(c.name));
      const ours = ourRows.map((o) => {
        const values = columns.map((c, i) =>
          f.ours(i, exportFormOfOurs(ourValue(o[c.name], c), c)),
        );
        return { values, key: JSON.stringify(values) };
      });
      const theirs = records.map((r) => {
        const values = columns.map((c, i) =>
          f.theirs(i, r[at[i]], (raw) => exportFormOfTheirs(raw, c)),
        );
        return { values, key: JSON.stringify(values) };
      });
      const report = rowDiffReport(table, "mdb-export", columns, ours, theirs);
      if (report) fail(report);
    }
    console.log(`  ${table}: ${ourRows.length} rows, ${columns.length} columns`);
  }

  // An exception that no longer matches anything has outlived its reason.
  for (const k of KNOWN_FAULTS) {
    if (k.file === args.name && !used.has(k)) {
      fail(`known fault ${k.id} of ${k.reader} is listed for this file, ` +
        `but no value needed it: remove it`);
    }
  }
  for (const [key, n] of notes) {
    console.log(`  NOTE ${key}; ${n.count} values, e.g. ${n.examples.join(" | ")}`);
  }
  if (failures.length) {
    for (const msg of failures) console.log(`FAIL ${msg}`);
    console.log(`${args.name}: the readers disagree (${failures.length} problems)`);
    return 1;
  }
  console.log(`${args.name}: jetdump, mdb-reader and mdbtools agree`);
  return 0;
}

async function main() {
  const args = parseArgs(process.argv.slice(2));
  let MDBReader;
  try {
    ({ default: MDBReader } = await import("mdb-reader"));
  } catch (e) {
    skipOrFail(`mdb-reader is not installed in tests/node (run scripts/setup.sh): ${e.message}`);
  }
  for (const tool of ["mdb-tables", "mdb-export"]) {
    if (spawnSync(tool, ["--version"]).error) skipOrFail(`${tool} (mdbtools) is not installed`);
  }
  return compareFile(MDBReader, args);
}

main().then(
  (code) => process.exit(code),
  (e) => {
    console.log(`FAIL ${e.stack ?? e}`);
    process.exit(1);
  },
);
