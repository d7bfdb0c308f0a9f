// placeholder until the protocol module lands
