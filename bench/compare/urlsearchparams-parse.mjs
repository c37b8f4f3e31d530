// Parses a URL-encoded body file with Node's URLSearchParams, from the bytes
// to the pairs; prints the best of three runs in MB/s and the pairs seen.
//   node urlsearchparams-parse.mjs BODY_FILE
import {readFileSync} from 'node:fs';

const body = readFileSync(process.argv[2]);
let best = Infinity;
let items = 0;
for (let round = 0; round < 3; ++round) {
  const start = process.hrtime.bigint();
  items = 0;
  for (const pair of new URLSearchParams(body.toString('latin1'))) if (pair) ++items;
  best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e9);
}
console.log(`${(body.length / 1048576 / best).toFixed(1)} ${items}`);
