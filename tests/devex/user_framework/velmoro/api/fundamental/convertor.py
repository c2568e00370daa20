import json

import pandas as pd

from velmoro.tframe.comm import vmcmd
from velmoro.tframe.utils.utilfunc import load_mat


def get_fundamental_info(params, func_name):
    return load_mat(vmcmd.vmSendCmdGetFdmt("en", func_name, json.dumps(params, default=str)))


def convert_fundamental_to_df(raw):
    return pd.DataFrame(raw)
