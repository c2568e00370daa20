"""Numeric time: days since 0001-01-01 (day 1), the fraction being the time of day."""
import datetime


def mft_to_datetime(times):
    if not hasattr(times, "__len__"):
        return mft_to_datetime([times])[0]
    return [datetime.datetime.fromordinal(int(t)) + datetime.timedelta(days=float(t) % 1) for t in times]


def datetime_to_mft(dt):
    return dt.toordinal() + (dt.hour * 3600 + dt.minute * 60 + dt.second) / 86400.0


def datetime_to_int(dt):
    return int(dt.strftime("%Y%m%d"))


def mft_to_str_format(t, fmt="%Y-%m-%d %H:%M:%S"):
    return mft_to_datetime(t).strftime(fmt)


def mft_to_int_format(t):
    return datetime_to_int(mft_to_datetime(t))


def to_int_now_date(fmt="%Y%m%d"):
    return int(datetime.datetime.now().strftime(fmt))


def next_n_day(date, day=1, in_fmt="%Y%m%d", out_fmt="%Y%m%d"):
    moved = datetime.datetime.strptime(str(date), in_fmt) + datetime.timedelta(days=day)
    return int(moved.strftime(out_fmt))


def get_specific_year_end(year=None, fmt="%Y%m%d"):
    return datetime.date(year or datetime.date.today().year, 12, 31).strftime(fmt)
