"""The time axis of a raw file's bands, as ``rastertools export`` writes it: "days since
FIRST_YEAR-01-01" in a CF calendar, each band at the middle of its period (mid-month for 12
bands a year, mid-year for 1, evenly spaced slots otherwise), decoded as xarray decodes
export's NetCDF (numpy datetimes for the standard calendars, cftime dates for the others)."""

from __future__ import annotations

import numpy as np

# CF calendar names and the day counts they follow.
CALENDARS = {
    "proleptic_gregorian": "gregorian", "standard": "gregorian", "gregorian": "gregorian",
    "julian": "julian", "noleap": "noleap", "365_day": "noleap", "all_leap": "all_leap",
    "366_day": "all_leap", "360_day": "360_day",
}
# What export writes without --calendar.
DEFAULT_CALENDAR = "proleptic_gregorian"
_MONTH_DAYS = (31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31)


class TimeAxisError(ValueError):
    """A time axis the suite cannot write or read."""


def parse_calendar(text: str) -> str:
    name = str(text).strip().lower()
    if name not in CALENDARS:
        raise TimeAxisError(f"unknown calendar '{text}': give one of {', '.join(CALENDARS)}")
    return name


def days_in_year(kind: str, year: int) -> int:
    if kind == "360_day":
        return 360
    if kind == "noleap":
        return 365
    if kind == "all_leap":
        return 366
    leap = year % 4 == 0 and (kind == "julian" or year % 100 != 0 or year % 400 == 0)
    return 366 if leap else 365


def days_in_month(kind: str, year: int, month: int) -> int:
    if kind == "360_day":
        return 30
    if month == 1 and days_in_year(kind, year) == 366:
        return 29
    return _MONTH_DAYS[month]


def band_times(calendar: str, first_year: int, bands_per_year: int, nbands: int):
    """(start, mid, end) of each band in days since FIRST_YEAR-01-01, computed in the same
    double operations as export."""
    kind = CALENDARS[parse_calendar(calendar)]
    start = np.empty(nbands)
    end = np.empty(nbands)
    y0 = 0
    for year_index in range((nbands + bands_per_year - 1) // bands_per_year):
        year = first_year + year_index
        length = days_in_year(kind, year)
        before = 0
        for slot in range(bands_per_year):
            b = year_index * bands_per_year + slot
            if b >= nbands:
                break
            if bands_per_year == 12:
                start[b] = float(y0) + float(before)
                before += days_in_month(kind, year, slot)
                end[b] = start[b] + float(days_in_month(kind, year, slot))
            else:
                start[b] = float(y0) + float(length) * float(slot) / float(bands_per_year)
                end[b] = float(y0) + float(length) * float(slot + 1) / float(bands_per_year)
        y0 += length
    return start, (start + end) / 2, end


def time_units(first_year: int) -> str:
    return "days since %04d-01-01" % first_year


def check_calendar_years(calendar: str, first_year: int) -> None:
    if calendar in ("standard", "gregorian") and first_year < 1583:
        raise TimeAxisError(
            f"calendar {calendar} mixes Julian and Gregorian years before 1583: give "
            f"proleptic_gregorian for first year {first_year}")


def decode(days, first_year: int, calendar: str) -> np.ndarray:
    """Dates of ``days`` since FIRST_YEAR-01-01, as xarray decodes a CF time variable."""
    from xarray.coding.times import decode_cf_datetime

    return decode_cf_datetime(np.asarray(days), time_units(first_year), calendar)


def encode(dates, first_year: int, calendar: str) -> np.ndarray:
    """Days since FIRST_YEAR-01-01 of ``dates`` (numpy or cftime dates)."""
    from xarray.coding.times import encode_cf_datetime

    num, _, _ = encode_cf_datetime(np.asarray(dates), time_units(first_year), calendar)
    return np.asarray(num, dtype=np.float64)
