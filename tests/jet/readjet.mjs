// Reads a Jet file with two readers that know nothing of the generator,
// mdbtools' command-line tools and the npm package mdb-reader, and compares
// every table, column, row and field with the rows the generator meant to
// write (its expected JSON).
//
//   node readjet.mjs FILE.mdb EXPECTED.json [--password P] [--expect-broken]
//
// --password P: the header must hold this database password.
// --expect-broken: the file is damaged on purpose; passes when neither
//   reader gives back the expected rows.
// Prints one line per reader and a page summary; exits 1 on a difference.
import MDBReader from "mdb-reader";
import { execFileSync } from "node:child_process";
import { readFileSync } from "node:fs";

const EPOCH_DAYS = 25569; // 1899-12-30 to 1970-01-01
const MS_PER_DAY = 86400000;
const DATE_TOLERANCE_DAYS = 1 / 86400; // both readers round to the second
const MAX_REPORTED = 10;
const MAX_SHOWN_CHARS = 80;
const show = (v) => {
    const s = JSON.stringify(v);
    return s.length > MAX_SHOWN_CHARS ? `${s.slice(0, MAX_SHOWN_CHARS - 3)}...` : s;
};

const args = process.argv.slice(2);
const file = args[0];
const expected = JSON.parse(readFileSync(args[1], "utf8"));
const option = (name) => {
    const i = args.indexOf(name);
    return i >= 0 ? args[i + 1] : undefined;
};
const expectBroken = args.includes("--expect-broken");
const jet3 = expected.format === "jet3";
const expectedRows = Object.values(expected.tables).reduce((n, t) => n + t.rows.length, 0);
if (expectedRows === 0) {
    console.log("the expected rows are empty: nothing to compare");
    process.exit(1);
}

// mdb-reader decodes Jet 3 texts as Windows-1252 whatever the file's code
// page; the bytes are recovered through that table and decoded as
// Windows-1251, the code page the files are written in (what
// MDB_JET3_CHARSET=CP1251 does for mdbtools).
const cp1252 = new TextDecoder("windows-1252");
const cp1251 = new TextDecoder("windows-1251");
const undefined1252 = new Set([0x81, 0x8d, 0x8f, 0x90, 0x9d]);
const byteOf1252 = new Map();
for (let b = 0; b < 256; b++) {
    if (!undefined1252.has(b)) byteOf1252.set(cp1252.decode(Uint8Array.of(b)), b);
}
function as1251(s) {
    if (!jet3 || typeof s !== "string") return s;
    const bytes = [...s].map((ch) => {
        const b = byteOf1252.get(ch);
        if (b === undefined) throw new Error(`cannot recover the byte of ${JSON.stringify(ch)}`);
        return b;
    });
    return cp1251.decode(Uint8Array.from(bytes));
}

function parseCsv(text) {
    // RFC 4180 as mdb-export writes it: text fields quoted, quotes doubled,
    // Null (and, in mdbtools, an empty text) as an empty unquoted field.
    const rows = [];
    let row = [];
    let i = 0;
    while (i < text.length) {
        let field;
        if (text[i] === '"') {
            let s = "";
            i++;
            for (;;) {
                if (i >= text.length) throw new Error("unclosed quote in mdb-export output");
                if (text[i] === '"') {
                    if (text[i + 1] === '"') {
                        s += '"';
                        i += 2;
                        continue;
                    }
                    i++;
                    break;
                }
                s += text[i++];
            }
            field = { quoted: true, text: s };
        } else {
            let end = i;
            while (end < text.length && text[end] !== "," && text[end] !== "\n") end++;
            field = { quoted: false, text: text.slice(i, end) };
            i = end;
        }
        row.push(field);
        if (text[i] === ",") {
            i++;
        } else {
            rows.push(row);
            row = [];
            i++;
        }
    }
    return rows;
}

function readMdbtools() {
    const env = { ...process.env, MDB_JET3_CHARSET: "CP1251" };
    const run = (cmd, a) => execFileSync(cmd, a, { env, encoding: "utf8", maxBuffer: 1 << 28, stdio: ["ignore", "pipe", "pipe"] });
    const names = run("mdb-tables", ["-1", file]).split("\n").filter((n) => n !== "");
    const tables = {};
    for (const name of names) {
        const csv = parseCsv(run("mdb-export", ["-T", "%Y-%m-%d %H:%M:%S", file, name]));
        const header = csv.shift().map((f) => f.text);
        const types = expected.tables[name]?.columns.map((c) => c.type) ?? [];
        const rows = csv.map((fields) =>
            Object.fromEntries(fields.map((f, i) => [header[i], mdbtoolsValue(f, types[i])]))
        );
        tables[name] = { columns: header, rows };
    }
    return tables;
}

function mdbtoolsValue(f, type) {
    if (!f.quoted && f.text === "") return null;
    if (type === "Long" || type === "Integer") return Number(f.text);
    if (type === "DateTime") return Date.parse(f.text.replace(" ", "T") + "Z") / MS_PER_DAY + EPOCH_DAYS;
    return f.text;
}

function readMdbReader() {
    const reader = new MDBReader(readFileSync(file));
    const password = option("--password");
    if (password !== undefined && reader.getPassword() !== password) {
        throw new Error(`password in the header is ${JSON.stringify(reader.getPassword())}, not ${JSON.stringify(password)}`);
    }
    const tables = {};
    for (const rawName of reader.getTableNames()) {
        const table = reader.getTable(rawName);
        const columns = table.getColumnNames();
        const rows = table.getData().map((r) =>
            Object.fromEntries(columns.map((c) => [as1251(c), mdbReaderValue(r[c])]))
        );
        tables[as1251(rawName)] = { columns: columns.map(as1251), rows };
    }
    return tables;
}

function mdbReaderValue(v) {
    if (v instanceof Date) return v.getTime() / MS_PER_DAY + EPOCH_DAYS;
    return as1251(v);
}

// mdbtools cannot tell an empty text from Null: it reports a zero-length
// field as Null. mdb-reader does tell them apart, and is held to it.
function differences(got, reader) {
    const out = [];
    const wantNames = Object.keys(expected.tables);
    const gotNames = Object.keys(got);
    if (JSON.stringify(gotNames) !== JSON.stringify(wantNames)) {
        out.push(`tables ${JSON.stringify(gotNames)}, expected ${JSON.stringify(wantNames)}`);
        return out;
    }
    for (const name of wantNames) {
        const want = expected.tables[name];
        const have = got[name];
        const wantCols = want.columns.map((c) => c.name);
        if (JSON.stringify(have.columns) !== JSON.stringify(wantCols)) {
            out.push(`${name}: columns ${JSON.stringify(have.columns)}, expected ${JSON.stringify(wantCols)}`);
            continue;
        }
        if (have.rows.length !== want.rows.length) {
            out.push(`${name}: ${have.rows.length} rows, expected ${want.rows.length}`);
        }
        const n = Math.min(have.rows.length, want.rows.length);
        for (let r = 0; r < n; r++) {
            for (const c of want.columns) {
                const w = want.rows[r][c.name];
                const h = have.rows[r][c.name];
                const same =
                    c.type === "DateTime" && w !== null && h !== null
                        ? Math.abs(w - h) <= DATE_TOLERANCE_DAYS
                        : h === w || (reader === "mdbtools" && w === "" && h === null);
                if (!same) out.push(`${name} row ${r} ${c.name}: ${show(h)}, expected ${show(w)}`);
            }
        }
    }
    return out;
}

function pageSummary() {
    const data = readFileSync(file);
    const pageSize = data[0x14] === 0 ? 2048 : 4096;
    let dataPages = 0;
    let lvalPages = 0;
    let bitmapPages = 0;
    for (let p = 1; p * pageSize < data.length; p++) {
        const page = data.subarray(p * pageSize, (p + 1) * pageSize);
        if (page[0] === 0x05) bitmapPages++;
        if (page[0] !== 0x01) continue;
        if (page.subarray(4, 8).toString("latin1") === "LVAL") lvalPages++;
        else dataPages++;
    }
    return `${data.length / pageSize} pages of ${pageSize}, ${dataPages} data, ${lvalPages} LVAL, ${bitmapPages} usage bitmap`;
}

let failed = false;
for (const [reader, read] of [["mdbtools", readMdbtools], ["mdb-reader", readMdbReader]]) {
    let diffs;
    try {
        diffs = differences(read(), reader);
    } catch (e) {
        diffs = [`read error: ${String(e.message ?? e).split("\n")[0]}`];
    }
    if (expectBroken) {
        console.log(`${reader}: ${diffs.length ? `broken as meant (${diffs[0]})` : "READ THE DAMAGED FILE WHOLE"}`);
        failed ||= diffs.length === 0;
    } else {
        console.log(`${reader}: ${diffs.length ? `${diffs.length} differences` : `all ${expectedRows} rows match`}`);
        for (const d of diffs.slice(0, MAX_REPORTED)) console.log(`  ${d}`);
        failed ||= diffs.length > 0;
    }
}
if (!expectBroken) console.log(`  ${pageSummary()}`);
process.exit(failed ? 1 : 0);
