// Reference client for the receive benchmark: connects with Node's `ws`, receives <count>
// messages and prints the seconds from connecting to the last message.
const WebSocket = require('ws');
const [url, count] = [process.argv[2], Number(process.argv[3])];
const start = process.hrtime.bigint();
const ws = new WebSocket(url, { perMessageDeflate: false, maxPayload: 1 << 28 });
let received = 0;
ws.on('message', () => {
  if (++received === count) {
    console.log(String(Number(process.hrtime.bigint() - start) / 1e9));
    ws.terminate();
  }
});
