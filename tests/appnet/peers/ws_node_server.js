// WebSocket test peer over Node's `ws`. Prints the port, then one line per event.
// Paths:
//   /echo        echo every message; prints "PONG <text>" for pongs and "CLOSE <code> <reason>"
//   /fragments   a text message in three fragments with a ping between the first two
//   /utf8split   "é" with its two bytes in two fragments
//   /lengths     binary messages of 125, 126, 65535 and 65536 bytes
//   /send/<count>/<size>  <count> text messages of <size> bytes, as fast as the socket takes them
const { WebSocketServer } = require('ws');

const server = new WebSocketServer({ host: '127.0.0.1', port: 0, perMessageDeflate: false, maxPayload: 1 << 28 });
server.on('listening', () => console.log(String(server.address().port)));
server.on('connection', (ws, req) => {
  const path = req.url;
  ws.on('pong', (data) => console.log('PONG ' + data.toString()));
  ws.on('ping', (data) => console.log('PING ' + data.toString()));
  ws.on('close', (code, reason) => console.log('CLOSE ' + code + ' ' + reason.toString()));
  ws.on('message', (data, isBinary) => {
    if (path === '/echo') ws.send(data, { binary: isBinary });
  });
  if (path === '/fragments') {
    ws.send('one,', { fin: false });
    ws.ping('between');
    ws.send('two,', { fin: false });
    ws.send('three', { fin: true });
  } else if (path === '/utf8split') {
    ws.send(Buffer.from([0x61, 0xc3]), { binary: false, fin: false });
    ws.send(Buffer.from([0xa9, 0x62]), { binary: false, fin: true });
  } else if (path.startsWith('/send/')) {
    const [, , count, size] = path.split('/');
    const payload = 'x'.repeat(Number(size));
    let left = Number(count);
    const pump = () => {
      while (left > 0 && ws.bufferedAmount < (1 << 20)) { ws.send(payload); --left; }
      if (left > 0) setImmediate(pump);
    };
    pump();
  } else if (path === '/lengths') {
    for (const n of [125, 126, 65535, 65536]) ws.send(Buffer.alloc(n, n % 251), { binary: true });
  }
});
