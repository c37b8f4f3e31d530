// Parses a body file with busboy, fed in 64 KB chunks from memory; prints
// the best of three runs in MB/s and the number of fields and files seen.
//   node busboy-parse.mjs BODY_FILE multipart BOUNDARY
//   node busboy-parse.mjs BODY_FILE urlencoded
import busboy from 'busboy';
import {readFileSync} from 'node:fs';

const [file, kind, boundary] = process.argv.slice(2);
const body = readFileSync(file);
const contentType = kind === 'multipart' ? 'multipart/form-data; boundary=' + boundary
                                         : 'application/x-www-form-urlencoded';

function parseOnce() {
  return new Promise((resolve, reject) => {
    let items = 0;
    const parser = busboy({headers: {'content-type': contentType},
                           limits: {fieldSize: Infinity, fields: Infinity, fileSize: Infinity, files: Infinity,
                                    parts: Infinity}});
    parser.on('file', (name, stream) => { ++items; stream.resume(); });
    parser.on('field', () => { ++items; });
    parser.on('close', () => resolve(items));
    parser.on('error', reject);
    for (let at = 0; at < body.length; at += 65536) parser.write(body.subarray(at, at + 65536));
    parser.end();
  });
}

let best = Infinity;
let items = 0;
for (let round = 0; round < 3; ++round) {
  const start = process.hrtime.bigint();
  items = await parseOnce();
  best = Math.min(best, Number(process.hrtime.bigint() - start) / 1e9);
}
console.log(`${(body.length / 1048576 / best).toFixed(1)} ${items}`);
