// The reference side of the WebSocket echo benchmark: the Node "ws" client does ROUNDS round trips
// of a 32-byte text message against the echo server and prints "ELAPSED_MS <ms>".
// Usage: node ws_bench_client.js PORT ROUNDS
'use strict';
const WebSocket = require('ws');

const [port, rounds] = process.argv.slice(2).map(Number);
const message = 'x'.repeat(32);
const ws = new WebSocket(`ws://127.0.0.1:${port}/`);
let done = 0;
let started;
ws.on('open', () => {
  started = process.hrtime.bigint();
  ws.send(message);
});
ws.on('message', () => {
  if (++done < rounds) {
    ws.send(message);
    return;
  }
  const elapsed = Number(process.hrtime.bigint() - started) / 1e6;
  process.stdout.write(`ELAPSED_MS ${elapsed.toFixed(3)}\n`);
  ws.close();
});
ws.on('close', () => process.exit(0));
ws.on('error', (error) => {
  process.stderr.write(`${error}\n`);
  process.exit(1);
});
