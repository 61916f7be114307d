// Checks, through mdbtools, the schema of a client database made by mkclientes:
// `mdb-schema --indexes --relations FILE mysql` must show exactly the four tables
// with their columns in order and their types (the autonumber ids included), each
// table's primary key and its non-unique index, and the foreign keys to clientes
// when the file was made with --relations (none otherwise).
//
// usage: node create_schema.mjs [--relations] FILE.mdb
// exit: 0 as expected, 1 a difference or an error, 77 skipped (mdb-schema missing),
// except under REQUIRE_SHARED=1, where a missing reader fails.

import { spawnSync } from "node:child_process";

const SKIP = 77;

const EXPECTED_TABLES = {
  clientes: {
    columns: [
      ["CLICOD", "int"],
      ["clinom", "varchar (50)"],
      ["clies", "varchar (1)"],
      ["clifre", "datetime"],
      ["clinotas", "text"],
    ],
    primary: ["CLICOD"],
    indexes: { clies: ["clies"] },
  },
  cliprod: {
    columns: [
      ["id", "int not null auto_increment unique"],
      ["codcli", "int"],
      ["prod", "varchar (30)"],
      ["cant", "float"],
    ],
    primary: ["id"],
    indexes: { codcli: ["codcli"] },
  },
  horascli: {
    columns: [
      ["id", "int not null auto_increment unique"],
      ["codcli", "int"],
      ["horas", "float"],
      ["fecha", "datetime"],
    ],
    primary: ["id"],
    indexes: { codcli: ["codcli"] },
  },
  diascli: {
    columns: [
      ["id", "int not null auto_increment unique"],
      ["codcli", "int"],
      ["dia", "smallint"],
    ],
    primary: ["id"],
    indexes: { codcli: ["codcli"] },
  },
};

function skipOrFail(reason) {
  if (process.env.REQUIRE_SHARED === "1") {
    console.log(`FAIL: ${reason} (REQUIRE_SHARED=1, so this cannot be skipped)`);
    process.exit(1);
  }
  console.log(`SKIPPED: ${reason}`);
  process.exit(SKIP);
}

const args = process.argv.slice(2);
const relations = args.includes("--relations");
const file = args.find((a) => !a.startsWith("--"));
if (!file) {
  console.error("usage: node create_schema.mjs [--relations] FILE.mdb");
  process.exit(2);
}

const r = spawnSync("mdb-schema", ["--indexes", "--relations", file, "mysql"], {
  encoding: "utf8",
  maxBuffer: 1 << 26,
});
if (r.error && r.error.code === "ENOENT") skipOrFail("mdb-schema (mdbtools) not found");
if (r.error || r.status !== 0) {
  console.log(`FAIL: mdb-schema exited ${r.status}: ${r.error?.message ?? r.stderr}`);
  process.exit(1);
}

// Parse the statements mdbtools prints.
const tables = {};
let current = null;
const problems = [];
for (const raw of r.stdout.split("\n")) {
  const line = raw.trim();
  let m;
  if ((m = /^CREATE TABLE `([^`]+)`$/.exec(line))) {
    current = { columns: [], primary: null, indexes: {}, unique: {}, foreign: [] };
    tables[m[1]] = current;
  } else if (line === ");") {
    current = null;
  } else if (current && (m = /^`([^`]+)`\s+(.*?),?$/.exec(line))) {
    current.columns.push([m[1], m[2].trim()]);
  } else if ((m = /^ALTER TABLE `([^`]+)` ADD PRIMARY KEY \((.*)\);$/.exec(line))) {
    tables[m[1]].primary = m[2].split(",").map((c) => c.trim().replace(/`/g, ""));
  } else if ((m = /^ALTER TABLE `([^`]+)` ADD (UNIQUE )?INDEX `([^`]+)` \((.*)\);$/.exec(line))) {
    const cols = m[4].split(",").map((c) => c.trim().replace(/`/g, ""));
    tables[m[1]][m[2] ? "unique" : "indexes"][m[3]] = cols;
  } else if (
    (m = /^ALTER TABLE `([^`]+)` ADD CONSTRAINT `[^`]+` FOREIGN KEY \(`([^`]+)`\) REFERENCES `([^`]+)`\(`([^`]+)`\);$/.exec(
      line,
    ))
  ) {
    tables[m[1]].foreign.push(`${m[2]} -> ${m[3]}.${m[4]}`);
  }
}

const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);
const names = Object.keys(tables);
if (!same(names, Object.keys(EXPECTED_TABLES))) {
  problems.push(`tables ${JSON.stringify(names)}, expected ${JSON.stringify(Object.keys(EXPECTED_TABLES))}`);
}
for (const [name, want] of Object.entries(EXPECTED_TABLES)) {
  const got = tables[name];
  if (!got) continue;
  if (!same(got.columns, want.columns)) {
    problems.push(`${name}: columns ${JSON.stringify(got.columns)}, expected ${JSON.stringify(want.columns)}`);
  }
  if (!same(got.primary, want.primary)) {
    problems.push(`${name}: primary key ${JSON.stringify(got.primary)}, expected ${JSON.stringify(want.primary)}`);
  }
  if (!same(got.indexes, want.indexes)) {
    problems.push(`${name}: indexes ${JSON.stringify(got.indexes)}, expected ${JSON.stringify(want.indexes)}`);
  }
  if (Object.keys(got.unique).length) problems.push(`${name}: unexpected unique indexes`);
  const wantForeign = relations && name !== "clientes" ? ["codcli -> clientes.CLICOD"] : [];
  if (!same(got.foreign, wantForeign)) {
    problems.push(`${name}: foreign keys ${JSON.stringify(got.foreign)}, expected ${JSON.stringify(wantForeign)}`);
  }
}

if (problems.length) {
  for (const p of problems) console.log(`FAIL: ${p}`);
  process.exit(1);
}
console.log(`${file}: mdb-schema shows the four tables, their keys and indexes${relations ? " and relationships" : ""}`);
