// Peer: SheetJS reads the first worksheet's values as texts.
const XLSX = require('xlsx');
const wb = XLSX.readFile(process.argv[2], { dense: true, sheets: 0 });
const rows = XLSX.utils.sheet_to_json(wb.Sheets[wb.SheetNames[0]], { header: 1, raw: false, defval: '' });
let cells = 0;
for (const row of rows) cells += row.length;
console.log(rows.length + '\t' + cells);
