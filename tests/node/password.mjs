// Prints, as JSON, the database password mdb-reader reads in a file (null
// when it finds none): the independent check of where the tests write one.
//   node password.mjs FILE
import { readFileSync } from "node:fs";
import MDBReader from "mdb-reader";

const reader = new MDBReader(readFileSync(process.argv[2]));
process.stdout.write(JSON.stringify(reader.getPassword()));
