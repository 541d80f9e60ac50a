// A WebSocket server for the client tests and the echo benchmark, on 127.0.0.1 and a free port.
// Usage: node ws_test_server.js [CERT.pem KEY.pem]   (with a certificate it serves wss)
// Prints "PORT <n>" once listening, and "CLOSE <code> <reason>" when a client's close arrives.
// Text commands: "cmd:ping:<payload>" pings, "cmd:close:<code>:<reason>" closes, "cmd:closeempty"
// closes with an empty close frame, "cmd:headers" answers the handshake headers as JSON; a pong is
// reported back as "pong:<payload>"; everything else is echoed as it came.
'use strict';
const fs = require('fs');
const https = require('https');
const { WebSocketServer } = require('ws');

const [certPath, keyPath] = process.argv.slice(2);
const handleProtocols = (protocols) => (protocols.has('chat') ? 'chat' : false);

let wss;
function announce(port) {
  process.stdout.write(`PORT ${port}\n`);
}
if (certPath && keyPath) {
  const server = https.createServer({ cert: fs.readFileSync(certPath), key: fs.readFileSync(keyPath) });
  wss = new WebSocketServer({ server, handleProtocols });
  server.listen(0, '127.0.0.1', () => announce(server.address().port));
} else {
  wss = new WebSocketServer({ host: '127.0.0.1', port: 0, handleProtocols }, () => announce(wss.address().port));
}

wss.on('connection', (ws, request) => {
  ws.on('message', (data, isBinary) => {
    if (!isBinary) {
      const text = data.toString();
      if (text.startsWith('cmd:ping:')) {
        ws.ping(text.slice('cmd:ping:'.length));
        return;
      }
      if (text.startsWith('cmd:close:')) {
        const [code, ...reason] = text.slice('cmd:close:'.length).split(':');
        ws.close(Number(code), reason.join(':'));
        return;
      }
      if (text === 'cmd:closeempty') {
        ws.close();
        return;
      }
      if (text === 'cmd:headers') {
        ws.send(JSON.stringify(request.headers));
        return;
      }
    }
    ws.send(data, { binary: isBinary });
  });
  ws.on('pong', (data) => ws.send(`pong:${data.toString()}`));
  ws.on('close', (code, reason) => process.stdout.write(`CLOSE ${code} ${reason.toString()}\n`));
});

process.stdin.on('end', () => process.exit(0));
process.stdin.resume();
