// A small CSV reader for what mdb-export prints: fields separated by commas, records
// by LF (CR LF tolerated), double-quoted fields that may hold commas, doubled quotes,
// CR and LF (memo values carry CR LF line breaks).

// Returns the records as arrays of fields {text, quoted}: mdb-export prints NULL as an
// empty unquoted field and a zero-length text as "". Throws on an unterminated quote.
export function parseCsv(text) {
  const records = [];
  let record = [];
  let field = "";
  let inQuotes = false;
  let fieldStarted = false;
  let quoted = false;
  const endField = () => {
    record.push({ text: field, quoted });
    field = "";
    fieldStarted = false;
    quoted = false;
  };
  const endRecord = () => {
    endField();
    records.push(record);
    record = [];
  };
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (inQuotes) {
      if (c === '"') {
        if (text[i + 1] === '"') {
          field += '"';
          i++;
        } else {
          inQuotes = false;
        }
      } else {
        field += c;
      }
      continue;
    }
    if (c === '"' && !fieldStarted) {
      inQuotes = true;
      quoted = true;
      fieldStarted = true;
    } else if (c === ",") {
      endField();
    } else if (c === "\n") {
      endRecord();
    } else if (c === "\r" && text[i + 1] === "\n") {
      // the LF ends the record
    } else {
      field += c;
      fieldStarted = true;
    }
  }
  if (inQuotes) throw new Error("CSV: unterminated quoted field at the end of the output");
  if (fieldStarted || record.length > 0) endRecord();
  return records;
}
