"""Calendar and reference commands of the simulated terminal."""
from velmoro.simterm.dataset import BLOCKS
from velmoro.simterm.terminal import command
from velmoro.tframe.comm.link import Answer
from velmoro.tframe.utils.utilcls import DotDict


@command("GetCodeList")
def get_code_list(term, block, date):
    members = BLOCKS.get(block, ())
    pairs = list(zip(members[0::2], members[1::2]))
    records = []
    for market, code in pairs:
        sec = term.data.security(market, code)
        records.append(
            DotDict(Code=code, Market=market, Weight=round(1.0 / len(pairs), 6), Name=sec.name, BlockName=block)
        )
    return Answer(result=records)
