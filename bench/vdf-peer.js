// Times a key-values parser from the npm registry on FILE, as a black box for comparison:
//   node vdf-peer.js PACKAGE FILE EXPECTED_ATTRIBUTES
const fs = require('fs');
const [, , name, file, expected] = process.argv;
const parser = require(name);
const text = fs.readFileSync(file, 'utf8');

function countAttributes(node) {
    let count = 0;
    const pending = [node];
    while (pending.length) {
        const current = pending.pop();
        for (const value of Object.values(current)) {
            if (value !== null && typeof value === 'object') pending.push(value);
            else count++;
        }
    }
    return count;
}

let best = Infinity;
let result;
try {
    for (let run = 0; run < 3; run++) {
        const start = process.hrtime.bigint();
        result = parser.parse(text);
        best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e9);
    }
} catch (error) {
    console.log(`${name}: failed: ${String(error).slice(0, 120)}`);
    process.exit(0);
}
const megabytes = Buffer.byteLength(text) / (1024 * 1024);
const attributes = countAttributes(result);
const correct = String(attributes) === String(expected);
console.log(`${name}: ${(megabytes / best).toFixed(1)} MB/s, ${attributes} attributes (${correct ? 'correct' : 'WRONG'}), ` +
    `peak memory ${(process.memoryUsage().rss / 1048576).toFixed(1)} MB`);
