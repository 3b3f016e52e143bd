"""The demo bank's market: the watch list, the quotes it pushes and the rate series it serves.

Everything here is fixed: the same requests get the same answers in every run, so the demo's
screens are the same in every run.

- Watch list: groups of currency pairs with names, codes and favourites, in the form the
  watch-list screen takes ({"name", "isOpen", "data": [{"product", "isInterest", "currencyCode"}]}).
- Push: a WebSocket server (Python websockets) where "/ws/<code>/<code>/..." subscribes to pairs.
  Each subscription gets the current quote series of its pairs at once, and every open
  subscription gets the next series when next_series() is called. A quote is the text
  {"code", "bid", "ask", "series"}. facts() tells the current series, its quotes and how many
  texts were sent.
- Charts: one day series per pair (200 weekdays up to the last day before the series' end date),
  its refresh (the last day again and one new day), as rate-series packets; series_rows() gives the
  same rows as dated prices.
"""
import asyncio
import datetime
import gzip
import json
import random
import threading
from zoneinfo import ZoneInfo

import websockets

import kline_series

# The zone in which the series' times are written (the client reads them in its own zone: the demo
# runner's is the same).
ZONE = ZoneInfo("Asia/Shanghai")
SERIES_DAYS = 200
SERIES_END = datetime.date(2025, 12, 31)  # the last day of the history; the refresh adds the next weekday
AVAILABLE = 4  # decimal places of the series

# group, code, product name, favourite, mid price, decimals, spread
PAIRS = [
    ("人民币外汇", "USDCNY", "USD/CNY 美元人民币", True, 7.1012, 4, 0.0034),
    ("人民币外汇", "EURCNY", "EUR/CNY 欧元人民币", True, 7.7435, 4, 0.0060),
    ("人民币外汇", "HKDCNY", "HKD/CNY 港币人民币", False, 0.9134, 4, 0.0008),
    ("人民币外汇", "GBPCNY", "GBP/CNY 英镑人民币", False, 9.0211, 4, 0.0072),
    ("外币对", "EURUSD", "EUR/USD 欧元美元", True, 1.0904, 4, 0.0002),
    ("外币对", "USDJPY", "USD/JPY 美元日元", False, 148.62, 2, 0.03),
    ("外币对", "GBPUSD", "GBP/USD 英镑美元", False, 1.2683, 4, 0.0003),
    ("外币对", "AUDUSD", "AUD/USD 澳元美元", False, 0.6571, 4, 0.0002),
    ("贵金属", "XAUUSD", "XAU/USD 黄金美元", True, 2034.50, 2, 0.60),
    ("贵金属", "XAGUSD", "XAG/USD 白银美元", False, 22.85, 3, 0.03),
]
CLOSED_GROUPS = {"贵金属"}


def watch_list():
    groups = []
    for name, code, product, favourite, *_ in PAIRS:
        if not groups or groups[-1]["name"] != name:
            groups.append({"name": name, "isOpen": "0" if name in CLOSED_GROUPS else "1", "data": []})
        groups[-1]["data"].append({"product": product, "isInterest": "1" if favourite else "0", "currencyCode": code})
    return groups


def pair(code):
    for p in PAIRS:
        if p[1] == code:
            return p
    return None


# ---------------------------------------------------------------- quotes

def quote(code, series):
    """The quote text of a pair in a series (series 1 is the first one every subscription gets)."""
    _, _, _, _, mid, decimals, spread = pair(code)
    steps = random.Random("%s/%d" % (code, series)).randint(-6, 6) if series > 1 else 0
    mid = mid * (1 + 0.00025 * steps + 0.0001 * (series - 1))
    bid = mid - spread / 2
    return json.dumps({"code": code, "bid": "%.*f" % (decimals, bid), "ask": "%.*f" % (decimals, bid + spread),
                       "series": series}, separators=(",", ":"))


class Push:
    """The push WebSocket server, on its own thread and event loop; bound to 127.0.0.1."""

    def __init__(self):
        self.series = 1
        self.subscriptions = 0
        self.sent = 0  # quote texts sent, to every subscription together
        self._open = []  # (websocket, codes)
        self._loop = asyncio.new_event_loop()
        started = threading.Event()
        threading.Thread(target=self._run, args=(started,), daemon=True).start()
        started.wait(20)

    def _run(self, started):
        asyncio.set_event_loop(self._loop)
        server = self._loop.run_until_complete(
            websockets.serve(self._handler, "127.0.0.1", 0, compression=None, max_size=1 << 16))
        self.port = server.sockets[0].getsockname()[1]
        started.set()
        self._loop.run_forever()

    async def _send(self, subscriber, series):
        socket, codes = subscriber
        sent = 0
        for code in codes:
            try:
                await socket.send(quote(code, series))
                sent += 1
                self.sent += 1
            except websockets.ConnectionClosed:
                break
        return sent

    async def _handler(self, socket, path):
        if not path.startswith("/ws/"):
            await socket.close(1008, "unknown path")
            return
        codes = [c for c in path[len("/ws/"):].split("/") if pair(c)]
        subscriber = (socket, codes)
        self.subscriptions += 1
        self._open.append(subscriber)
        try:
            await self._send(subscriber, self.series)
            await socket.wait_closed()
        finally:
            self._open.remove(subscriber)

    async def _next(self):
        self.series += 1
        sent = 0
        for subscriber in list(self._open):
            sent += await self._send(subscriber, self.series)
        return {"series": self.series, "pushed": sent, "subscribers": len(self._open)}

    async def _facts(self):
        return {"url": "ws://127.0.0.1:%d" % self.port, "series": self.series, "sent": self.sent,
                "subscriptions": self.subscriptions, "open": len(self._open),
                "quotes": {p[1]: json.loads(quote(p[1], self.series)) for p in PAIRS}}

    def next_series(self):
        """Sends the next series to every open subscription; answers {"series", "pushed", "subscribers"}."""
        return asyncio.run_coroutine_threadsafe(self._next(), self._loop).result(20)

    def facts(self):
        return asyncio.run_coroutine_threadsafe(self._facts(), self._loop).result(20)


# ---------------------------------------------------------------- day series

def weekdays(last, count):
    days = []
    day = last
    while len(days) < count:
        if day.weekday() < 5:
            days.append(day)
        day -= datetime.timedelta(days=1)
    return days[::-1]


def next_weekday(day):
    day += datetime.timedelta(days=1)
    while day.weekday() >= 5:
        day += datetime.timedelta(days=1)
    return day


def day_rows(code):
    """The history and its refresh day as (day, open, close, low, high) in units of 10^-AVAILABLE:
    a walk of closes with a small daily move, each day opening near the last close, ending at the
    pair's price."""
    _, _, _, _, mid, _, _ = pair(code)
    rnd = random.Random("series/" + code)
    days = weekdays(SERIES_END, SERIES_DAYS) + [next_weekday(SERIES_END)]
    unit = 10 ** AVAILABLE
    close = mid * unit * 0.985
    volatility = mid * unit * 0.0025
    walk = []
    for day in days:
        open_ = close + rnd.gauss(0, volatility * 0.15)
        close = open_ + rnd.gauss(0.0007 * volatility, volatility)
        high = max(open_, close) + abs(rnd.gauss(0, volatility * 0.5))
        low = min(open_, close) - abs(rnd.gauss(0, volatility * 0.5))
        walk.append((day, open_, close, low, high))
    # The history ends at today's price, where the pushed quotes start.
    shift = mid * unit - walk[SERIES_DAYS - 1][2]
    return [(day, round(o + shift), round(c + shift), round(l + shift), round(h + shift)) for day, o, c, l, h in walk]


def _time(day):
    return datetime.datetime(day.year, day.month, day.day, tzinfo=ZONE)


def _packet(rows):
    """A gzip rate-series packet of the rows: the first record carries the base price and the time."""
    base = rows[0][2]
    first = _time(rows[0][0])
    texts = []
    for i, (day, o, c, l, h) in enumerate(rows):
        deltas = "%d#%d#%d#%d" % (o - base, c - base, l - base, h - base)
        if i == 0:
            texts.append("%d#0#%s#%s" % (base, deltas, first.strftime("%Y%m%d%H%M%S")))
        else:
            texts.append("%s#%s" % (deltas, kline_series.offset_text(int((_time(day) - first).total_seconds()))))
    random.seed(0)  # the bytes each record leads with are random: the same ones every time
    return gzip.compress(kline_series.packet(texts), mtime=0)


def history_packet(code):
    return _packet(day_rows(code)[:SERIES_DAYS])


def refresh_packet(code):
    return _packet(day_rows(code)[SERIES_DAYS - 1:])


def series_rows(code):
    """The history and its refresh day as a person reads them: {"date", "time", "open", "close", "low",
    "high"}, the prices written with the series' decimal places."""
    price = lambda units: "%.*f" % (AVAILABLE, units / 10 ** AVAILABLE)
    return [{"date": day.isoformat(), "time": _time(day).timestamp(), "open": price(o), "close": price(c),
             "low": price(l), "high": price(h)} for day, o, c, l, h in day_rows(code)]


def series_facts(code):
    rows = day_rows(code)
    return {"rows": SERIES_DAYS, "first": _time(rows[0][0]).timestamp(),
            "last": _time(rows[SERIES_DAYS - 1][0]).timestamp(), "refreshed": _time(rows[-1][0]).timestamp(),
            "available": AVAILABLE}
