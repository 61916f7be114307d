// jetdump's JSON forms for values other readers hand over as JavaScript objects.

const MS_PER_DAY = 86400000;
// 1899-12-30, day 0 of Access dates, in milliseconds since 1970-01-01.
const ACCESS_EPOCH_MS = Date.UTC(1899, 11, 30);

const pad = (n, w = 2) => String(n).padStart(w, "0");

// "YYYY-MM-DDTHH:MM:SS" of a UTC instant, rounded to the second.
export function dateTimeForm(ms) {
  const d = new Date(Math.round(ms / 1000) * 1000);
  const y = d.getUTCFullYear();
  const year = y < 0 ? "-" + pad(-y, 4) : pad(y, 4);
  return (
    `${year}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())}` +
    `T${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}:${pad(d.getUTCSeconds())}`
  );
}

// The stored Access value (days since 1899-12-30) behind a Date that mdb-reader built as a
// plain offset from day 0, to the millisecond.
export function accessDays(date) {
  return (date.getTime() - ACCESS_EPOCH_MS) / MS_PER_DAY;
}

// Access's reading of a stored date: the integer part (toward zero) is the day, the
// absolute fractional part the time of day, also for negative values.
export function accessDateTimeForm(days) {
  const whole = Math.trunc(days);
  const secs = Math.round(Math.abs(days - whole) * 86400);
  return dateTimeForm(ACCESS_EPOCH_MS + whole * MS_PER_DAY + secs * 1000);
}

// C's printf("%.<p>g", x), which mdbtools uses for Single (p = 8) and Double (p = 16).
export function cFormatG(x, p) {
  if (Number.isNaN(x)) return "nan";
  if (!Number.isFinite(x)) return x > 0 ? "inf" : "-inf";
  if (x === 0) return Object.is(x, -0) ? "-0" : "0";
  const [mantissa, expText] = x.toExponential(p - 1).split("e");
  const exp = Number(expText);
  const trim = (s) => (s.includes(".") ? s.replace(/\.?0+$/, "") : s);
  if (exp < -4 || exp >= p) {
    return `${trim(mantissa)}e${exp < 0 ? "-" : "+"}${String(Math.abs(exp)).padStart(2, "0")}`;
  }
  return trim(x.toFixed(p - 1 - exp));
}
