// Values that one of the comparison readers is known to read wrong, each tied to the file,
// tables and column where it occurs. An entry takes effect only there and only for the
// values it describes; everything else is compared as read. Every use is printed.
//
// Fields:
//   id, reader      name of the case and of the reader that gets it wrong ("mdb-reader", or
//                   "mdbtools" for what mdb-export prints)
//   file, tables,   where it occurs (file as given to compare.mjs with --name, relative to
//   column          the fixtures folder)
//   why             what the reader does wrong
//   decidedBy       what decides the value instead
//   applies(raw)    optional: whether the reader's raw value is one of the faulty ones
//   theirs(raw)     with applies: the value the reader should have given, in the form the
//                   comparison uses (jetdump's JSON form, or mdb-export's text)
//   ours(value)     optional: how jetdump's value is compared when the reader's output lost
//                   information that no reader can give back

import { accessDateTimeForm, accessDays, dateTimeForm } from "./forms.mjs";

// Windows code page 1252 leaves 0x81, 0x8D, 0x8F, 0x90 and 0x9D without a letter; Windows
// maps each to the control character with the same number (U+0081...).
const CP1252_GAPS = /[\u0081\u008d\u008f\u0090\u009d]/g;

// mdbtools formats only dates from 0 to 1e6 days (1899-12-30 to 4637-11-26) and prints
// every other one as this.
const MDBTOOLS_NO_DATE = "1900-01-00T00:00:00";
const MDBTOOLS_FIRST_DATE = dateTimeForm(Date.UTC(1899, 11, 30));
// How much of a long memo mdb-reader is compared on where it cuts memos short.
const LONG_MEMO_SHOWN = 1000;
const MDBTOOLS_LAST_DATE = dateTimeForm(Date.UTC(1899, 11, 30) + 1e6 * 86400000);

export const KNOWN_FAULTS = [
  {
    // Raw values -1.1 (row19) and -94.43 (row14). mdbtools cannot print dates below 0 at
    // all, so the rule Access uses decides: day -1 at 02:24, not day -2 at 21:36.
    id: "negative-fractional-date",
    reader: "mdb-reader",
    file: "real/jet3/testIndexCodesV1997.mdb",
    tables: ["Table6", "Table6_desc"],
    column: "data",
    why: "it reads a negative date as a plain offset from day 0: the time of day runs backwards",
    decidedBy: "the Access rule (integer part = day, |fraction| = time of day)",
    applies: (raw) =>
      raw instanceof Date && accessDays(raw) < 0 && !Number.isInteger(accessDays(raw)),
    theirs: (raw) => accessDateTimeForm(accessDays(raw)),
  },
  {
    // Jet 3 text holding the code page's unassigned bytes (rows 129, 141, 143, 144, 157).
    // Row N of these tables was given the character U+N; those that code page 1252 cannot
    // hold were stored as "?" (rows 128, 130, ...), these five kept a byte of their own,
    // which Windows maps back to U+0081 ... U+009D, as jetdump reads them. mdb-reader gives
    // U+FFFD and mdb-export "?", so neither can say which byte it was: the comparison
    // checks that they stand exactly where jetdump has one of the five characters.
    id: "cp1252-unassigned-bytes",
    reader: "mdb-reader",
    file: "real/jet3/testIndexCodesV1997.mdb",
    tables: ["Table1", "Table1_desc", "Table14", "Table14_desc"],
    column: "data",
    why: "it decodes Windows-1252 bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D as U+FFFD",
    decidedBy: "Windows' code page 1252 table (0x81 -> U+0081, ...), compared by position",
    applies: (raw) => typeof raw === "string" && raw.includes("\ufffd"),
    theirs: (raw) => raw,
    ours: (value) => (typeof value === "string" ? value.replace(CP1252_GAPS, "\ufffd") : value),
  },
  {
    // Same rows as above: mdbtools converts Jet 3 text with iconv, which has no character
    // for these bytes and puts "?".
    id: "cp1252-unassigned-bytes",
    reader: "mdbtools",
    file: "real/jet3/testIndexCodesV1997.mdb",
    tables: ["Table1", "Table1_desc", "Table14", "Table14_desc"],
    column: "data",
    why: "mdb-export prints Windows-1252 bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D as \"?\"",
    decidedBy:
      "Windows' code page 1252 table (0x81 -> U+0081, ...) and mdb-reader, compared by position",
    ours: (value) => (typeof value === "string" ? value.replace(CP1252_GAPS, "?") : value),
  },
  {
    // Raw values below 0 (rows 3, 4, 8, 14, 19: -1.1, -94.43, ...); the dates themselves
    // are checked against mdb-reader.
    id: "date-out-of-range",
    reader: "mdbtools",
    file: "real/jet3/testIndexCodesV1997.mdb",
    tables: ["Table6", "Table6_desc"],
    column: "data",
    why:
      `mdb-export prints dates before ${MDBTOOLS_FIRST_DATE} or after ${MDBTOOLS_LAST_DATE} ` +
      `as ${MDBTOOLS_NO_DATE}`,
    decidedBy: "mdb-reader",
    ours: (value) =>
      typeof value === "string" && (value < MDBTOOLS_FIRST_DATE || value > MDBTOOLS_LAST_DATE)
        ? MDBTOOLS_NO_DATE
        : value,
  },
  {
    // A long value stored over several pages: each segment is a row on a long-value page,
    // and a row ends where the row before it on the page begins. When a row of that page was
    // deleted, its slot keeps the flags 0xC000 on top of that offset (Access leaves deleted
    // rows so: slot = previous row's start | 0xC000). mdb-reader's findRow takes the end of a
    // segment from the previous slot without masking the flags (its table scan does mask
    // them), so such a segment seems to run to the end of the page, no longer fits the
    // value's length, and the memo stops after its first segment. Seen in clientes files
    // after a purge; every segment holds more than 1 000 characters.
    id: "long-value-segment-after-deleted-row",
    reader: "mdb-reader",
    file: "purged/clientes.mdb",
    tables: ["clientes"],
    column: "clinotas",
    why: "it reads a memo segment that follows a deleted row on its page as reaching the page's end",
    decidedBy: "mdb-export, which reads the whole memo (mdb-reader compared on the first 1000 characters)",
    applies: (raw) => typeof raw === "string" && raw.length > LONG_MEMO_SHOWN,
    theirs: (raw) => raw.slice(0, LONG_MEMO_SHOWN),
    ours: (value) =>
      typeof value === "string" && value.length > LONG_MEMO_SHOWN
        ? value.slice(0, LONG_MEMO_SHOWN)
        : value,
  },
];

// The entries for one column of one table of one file.
export function knownFaultsFor(file, table, column) {
  return KNOWN_FAULTS.filter(
    (k) => k.file === file && k.tables.includes(table) && k.column === column,
  );
}
